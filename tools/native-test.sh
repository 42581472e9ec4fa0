#!/bin/sh
# The text core's tests and fuzz targets, built natively with clang under ASan and UBSan
# in build/native and run by ctest (each fuzz target once over its corpus); then each
# fuzz target for 30 seconds from a scratch copy of its corpus, where a finding is left.
set -eu
cd "$(dirname "$0")/.."
tools/deps.sh clang
# libFuzzer and the sanitizer runtimes come in a package named after clang's version.
runtime=$(clang --print-runtime-dir)
[ -f "$runtime/libclang_rt.fuzzer-$(uname -m).a" ] || [ -f "$runtime/libclang_rt.fuzzer.a" ] ||
    tools/deps.sh "libclang-rt-$(clang -dumpversion | cut -d. -f1)-dev"
cmake -S . -B build/native -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build build/native
ctest --test-dir build/native --output-on-failure -j "$(nproc 2>/dev/null || echo 1)"
for target in config hosts listing; do
    work=build/native/fuzz-work/$target
    mkdir -p "$work/corpus" && cp fuzz/corpus/"$target"/* "$work/corpus/"
    build/native/fuzz/fuzz_"$target" -max_total_time=30 -artifact_prefix="$work/" "$work/corpus" \
        >"$work/log" 2>&1 &
    pids="${pids:-} $!"
done
for pid in $pids; do wait "$pid" || { tail -n 20 build/native/fuzz-work/*/log; exit 1; }; done
