#!/bin/sh
# The balance of tests and code, in non-blank lines of source, scripts and CMake
# files (fuzz corpora are data). Test side: tests/, fuzz/, the scripts that only
# build or run tests and the CMake files of both; test cases: that side without
# support, fixtures, harness, fuzz targets, scripts and CMake files; benchmark:
# bench/ and its script. Exits 1 when one is over its limit.
set -eu
cd "$(dirname "$0")/.."
lines() {
    git ls-files -- "$@" | grep -E '(\.(c|cc|cpp|cxx|h|hh|hpp|rc|nsi|nsh|manifest|py|sh|cmake)|CMakeLists\.txt)$' |
        grep -v '/corpus/' | tr '\n' '\0' | xargs -0 -r cat | grep -cvE '^\s*$' || true
}
scripts="cmake/googletest.cmake tools/test.sh tools/native-test.sh tools/test-budget.sh"
# shellcheck disable=SC2086
whole=$(lines tests fuzz $scripts)
# shellcheck disable=SC2086
cases=$((whole - $(lines tests/support tests/fixtures tests/harness fuzz $scripts 'tests/*CMakeLists.txt')))
awk -v p="$(lines agent ui protection config password common installer resources/*.rc resources/*.manifest resources/*.h)" \
    -v c="$cases" -v w="$whole" -v b="$(lines bench tools/bench.sh)" 'BEGIN {
    printf "product %d lines\n", p
    printf "test cases        %5d  %.2f x  (at most 0.40)\n", c, c / p
    printf "whole test side   %5d  %.2f x  (at most 0.70)\n", w, w / p
    printf "benchmark         %5d  %.2f x  (at most 0.25)\n", b, b / p
    exit (c > 0.4 * p || w > 0.7 * p || b > 0.25 * p) ? 1 : 0
}'
