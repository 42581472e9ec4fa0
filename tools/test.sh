#!/bin/sh
# The whole suite on a fresh Debian/Ubuntu machine: installs what it needs, checks the
# layout of the C++ files, cross-builds everything with GCC and runs it under Wine,
# builds it with clang too (warnings as errors), then runs the text core's tests and
# fuzz targets natively.
set -eu
cd "$(dirname "$0")/.."
tools/deps.sh clang clang-format
# Every C++ file as .clang-format lays it out (clang-format 14, Debian's).
git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror
cmake --preset mingw >/dev/null
cmake --build --preset mingw
cmake --preset clang >/dev/null
cmake --build --preset clang
# The agent imports only the system's known DLLs, and comctl32, which its manifest
# redirects: any other DLL is looked for beside the program first, and an elevated copy
# started from a folder a standard user can write would load one planted there.
for agent in build/mingw/Vellumbrook.exe build/clang/Vellumbrook.exe; do
    ! x86_64-w64-mingw32-objdump -p "$agent" | sed -n 's/^\tDLL Name: //p' | tr A-Z a-z |
        grep -vxE '(advapi32|comctl32|gdi32|kernel32|msvcrt|ole32|oleaut32|shell32|user32)\.dll' ||
        { echo "$agent imports a DLL that is not a known DLL" >&2; exit 1; }
done
# The test preset runs a failing program a second time (Wine's CreateProcessW
# fails now and then under load): every test that needed it is named at the end.
log=build/mingw/ctest.log
{ ctest --preset mingw; echo $? >build/mingw/ctest.status; } 2>&1 | tee "$log"
retried=$(sed -n 's/^ *Test *#[0-9]*: \([^ ]*\) .*\*\*\*Failed.*/    \1/p' "$log" | sort -u)
[ -z "$retried" ] || printf 'needed a second try (the first failure is in %s):\n%s\n' "$log" "$retried"
[ "$(cat build/mingw/ctest.status)" -eq 0 ]
tools/native-test.sh
# The balance of tests and code holds too.
tools/test-budget.sh
