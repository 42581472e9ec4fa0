#!/bin/sh
# Non-blank lines (fuzz corpora are data): the test side (tests/, fuzz/, the scripts
# and CMake files that only build or run tests) at most 0.7 x the product, its cases
# (no support, fixtures, harness, fuzz targets, scripts or CMake files) 0.4 x, the
# benchmark (bench/ and its script) 0.25 x. Exits 1 when one is over.
set -eu
cd "$(dirname "$0")/.."
lines() {
    git ls-files -- "$@" | grep -E '(\.(c|cc|cpp|cxx|h|hh|hpp|rc|nsi|nsh|manifest|py|sh|cmake)|CMakeLists\.txt)$' |
        grep -v '/corpus/' | tr '\n' '\0' | xargs -0 -r cat | grep -cvE '^\s*$' || true
}
set -- cmake/googletest.cmake tools/test.sh tools/native-test.sh tools/test-budget.sh  # the scripts
whole=$(lines tests fuzz "$@")
cases=$((whole - $(lines tests/support tests/fixtures tests/harness fuzz "$@" 'tests/*CMakeLists.txt')))
awk -v p="$(lines agent ui protection config password common installer resources/*.rc resources/*.manifest resources/*.h)" \
    -v c="$cases" -v w="$whole" -v b="$(lines bench tools/bench.sh)" 'BEGIN {
    printf "product %d lines\n", p
    printf "test cases        %5d  %.2f x  (at most 0.40)\n", c, c / p
    printf "whole test side   %5d  %.2f x  (at most 0.70)\n", w, w / p
    printf "benchmark         %5d  %.2f x  (at most 0.25)\n", b, b / p
    exit (c > 0.4 * p || w > 0.7 * p || b > 0.25 * p) ? 1 : 0
}'
