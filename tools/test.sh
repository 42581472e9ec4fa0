#!/bin/sh
# The whole test suite on a fresh Debian/Ubuntu machine: installs what it needs,
# cross-builds the agent and its test programs and runs them under Wine, then
# builds the text core natively and runs its tests under the sanitizers and
# each fuzz target for a short while.
set -eu
cd "$(dirname "$0")/.."
tools/deps.sh
cmake --preset mingw >/dev/null
cmake --build --preset mingw
ctest --preset mingw
tools/native-test.sh
