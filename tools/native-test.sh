#!/bin/sh
# The text core built natively with clang under AddressSanitizer and
# UndefinedBehaviorSanitizer: installs what it needs, builds its unit tests and
# the fuzz targets in build/native, and runs the tests with ctest, each fuzz
# target once over its corpus among them.
set -eu
cd "$(dirname "$0")/.."
tools/deps.sh clang
# libFuzzer and the sanitizer runtimes come in a package of their own, named
# after clang's version.
runtime=$(clang --print-runtime-dir)
[ -f "$runtime/libclang_rt.fuzzer-$(uname -m).a" ] || [ -f "$runtime/libclang_rt.fuzzer.a" ] ||
    tools/deps.sh "libclang-rt-$(clang -dumpversion | cut -d. -f1)-dev"
cmake -S . -B build/native -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DVB_FUZZ=ON >/dev/null
cmake --build build/native
ctest --test-dir build/native --output-on-failure -j "$(nproc 2>/dev/null || echo 1)"
