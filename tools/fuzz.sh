#!/bin/sh
# Runs the fuzz targets that tools/native-test.sh builds, each for SECONDS (600
# unless given), all at once, each from a scratch copy of its corpus in
# build/native/fuzz-work/TARGET, where an input that breaks one is left.
#   tools/fuzz.sh [SECONDS] [TARGET...]     targets: config hosts listing sitelist
set -eu
cd "$(dirname "$0")/.."
seconds=${1:-600}
[ $# -eq 0 ] || shift
for target in ${*:-config hosts listing sitelist}; do
    work=build/native/fuzz-work/$target
    mkdir -p "$work/corpus" && cp fuzz/corpus/"$target"/* "$work/corpus/"
    build/native/fuzz/fuzz_"$target" -max_total_time="$seconds" -timeout=10 \
        -artifact_prefix="$work/" "$work/corpus" >"$work/log" 2>&1 &
    pids="${pids:-} $!"
done
failed=0
for pid in $pids; do wait "$pid" || failed=1; done
[ $failed -eq 0 ] || { grep -h -A3 'property does not hold\|ERROR: ' build/native/fuzz-work/*/log; exit 1; }
echo "fuzz: every target ran $seconds s without a finding"
