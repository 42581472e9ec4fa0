#!/bin/sh
# The whole test suite on a fresh Debian/Ubuntu machine: installs what it needs,
# cross-builds the agent, its setup and its test programs and runs them under
# Wine, then builds the text core natively and runs its tests under the
# sanitizers and each fuzz target for a short while.
set -eu
cd "$(dirname "$0")/.."
tools/deps.sh
cmake --preset mingw >/dev/null
cmake --build --preset mingw
# The test preset runs a failing program a second time (Wine's CreateProcessW
# fails now and then under load): every test that needed it is named at the end.
log=build/mingw/ctest.log
{ ctest --preset mingw; echo $? >build/mingw/ctest.status; } 2>&1 | tee "$log"
retried=$(sed -n 's/^ *Test *#[0-9]*: \([^ ]*\) .*\*\*\*Failed.*/\1/p' "$log" | sort -u)
if [ -n "$retried" ]; then
    echo "needed a second try (the first failure is in $log):"
    echo "$retried" | sed 's/^/    /'
fi
[ "$(cat build/mingw/ctest.status)" -eq 0 ]
tools/native-test.sh
# The balance of tests and code holds too.
tools/test-budget.sh
