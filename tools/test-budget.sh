#!/bin/sh
# The balance of tests and code, in non-blank lines of C/C++, headers, .rc,
# manifest, .nsi and scripts (fuzz corpora and CMake files left out), against
# the product: test cases at most 0.5 x, the whole test side at most 0.9 x, the
# benchmark at most 0.25 x. Exits 1 when one is over.
set -eu
cd "$(dirname "$0")/.."
lines() {
    git ls-files -- "$@" | grep -E '\.(c|cc|cpp|cxx|h|hh|hpp|rc|nsi|nsh|manifest|py|sh)$' |
        grep -v '/corpus/' | tr '\n' '\0' | xargs -0 -r cat | grep -cvE '^\s*$' || true
}
product=$(lines agent ui protection config password common installer resources/*.rc \
    resources/*.manifest resources/*.h)
whole=$(lines tests fuzz)
cases=$((whole - $(lines tests/support tests/fixtures tests/harness) - $(lines fuzz)))
bench=$(lines bench tools/bench.sh)
awk -v p="$product" -v c="$cases" -v w="$whole" -v b="$bench" 'BEGIN {
    printf "product %d lines\n", p
    printf "test cases        %5d  %.2f x  (at most 0.50)\n", c, c / p
    printf "whole test side   %5d  %.2f x  (at most 0.90)\n", w, w / p
    printf "benchmark         %5d  %.2f x  (at most 0.25)\n", b, b / p
    exit (c > 0.5 * p || w > 0.9 * p || b > 0.25 * p) ? 1 : 0
}'
