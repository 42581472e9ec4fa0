#!/bin/sh
# Runs the fuzz targets of the native build, each for SECONDS (600 unless given),
# from a scratch copy of its corpus under build/native/fuzz-work, as many at a
# time as there are cores. Fails when any target finds an input that breaks it.
#   tools/fuzz.sh [SECONDS] [TARGET...]     targets: config hosts listing sitelist
# tools/native-test.sh builds the targets. VB_FUZZ_FLAGS adds libFuzzer options,
# e.g. VB_FUZZ_FLAGS=-runs=10000000. The scratch corpora grow from run to run;
# remove build/native/fuzz-work to start again from the seeds.
set -eu
cd "$(dirname "$0")/.."
seconds=${1:-600}
[ $# -eq 0 ] || shift
targets=${*:-config hosts listing sitelist}
bin=build/native/fuzz
work=build/native/fuzz-work
jobs=$(nproc 2>/dev/null || echo 1)

for target in $targets; do
    if [ ! -x "$bin/fuzz_$target" ]; then
        echo "no fuzz target $bin/fuzz_$target: run tools/native-test.sh first" >&2
        exit 2
    fi
done

# One target: the repository's seeds join the scratch corpus, never the reverse.
run() {
    dir="$work/$1"
    mkdir -p "$dir/corpus"
    cp fuzz/corpus/"$1"/* "$dir/corpus/"
    rm -f "$dir"/crash-* "$dir"/leak-* "$dir"/timeout-* "$dir"/oom-*
    # shellcheck disable=SC2086
    "$bin/fuzz_$1" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
        -artifact_prefix="$dir/" ${VB_FUZZ_FLAGS:-} "$dir/corpus" >"$dir/log" 2>&1
}

report() {
    dir="$work/$1"
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$dir/log")
    cov=$(grep -E '^#[0-9]+' "$dir/log" | tail -n 1 | sed -n 's/.*\(cov: [0-9]*\).*\(ft: [0-9]*\).*/\1 \2/p')
    if [ "$2" -eq 0 ]; then
        echo "fuzz $1: ok, ${runs:-?} runs, ${cov:-?}"
    else
        echo "fuzz $1: FAILED (exit $2); log: $dir/log"
        grep -E 'property does not hold|ERROR: |SUMMARY: ' "$dir/log" | head -n 5
        for input in "$dir"/crash-* "$dir"/leak-* "$dir"/timeout-* "$dir"/oom-*; do
            if [ -e "$input" ]; then echo "  input: $input (replay: $bin/fuzz_$1 $input)"; fi
        done
    fi
}

failed=0
# shellcheck disable=SC2086  # one word per target
set -- $targets
while [ $# -gt 0 ]; do
    running=""
    n=0
    while [ $# -gt 0 ] && [ $n -lt "$jobs" ]; do
        run "$1" &
        running="$running $1:$!"
        n=$((n + 1))
        shift
    done
    for entry in $running; do
        status=0
        wait "${entry#*:}" || status=$?
        report "${entry%%:*}" "$status"
        [ "$status" -eq 0 ] || failed=1
    done
done
exit $failed
