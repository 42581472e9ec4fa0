#!/bin/sh
# The benchmark (not part of the tests): installs what it needs, builds the agent
# and the benchmark programs into build/bench, runs them under Wine in a throwaway
# prefix inside build/bench/harness (its own wineserver and Xvfb display), prints
# a table and writes the idle agent's figures to build/bench/results.json.
#   tools/bench.sh [--full-idle | --idle-seconds N]
# The idle agent is watched for 60 s of its timer by default and the processor
# time scaled to 5 minutes; --full-idle watches the whole 5 minutes instead.
set -eu
cd "$(dirname "$0")/.."
root=$(pwd)
build="$root/build/bench"
harness="$build/harness"
idle=60
while [ $# -gt 0 ]; do
    case "$1" in
    --full-idle) idle=300 ;;
    --idle-seconds) idle=$2; shift ;;
    *) echo "usage: $0 [--full-idle | --idle-seconds N]" >&2; exit 2 ;;
    esac
    shift
done
started=$(date +%s)
# Other work on the machine shows in every figure: say how busy it was before.
load=$(cut -d' ' -f1 /proc/loadavg)
grep -q '^ *add_subdirectory(bench)' CMakeLists.txt || {
    echo "CMakeLists.txt does not add the bench folder: add_subdirectory(bench)" >&2
    exit 1
}

tools/deps.sh
cmake --preset mingw -B "$build" -DVB_BUILD_TESTS=ON -DVB_BUILD_BENCH=ON >/dev/null

# The prefix's wineserver and Xvfb go away however this script ends. The prefix
# is made while the programs build; the simulator goes into it afterwards.
setup=""
cleanup() {
    if [ -n "$setup" ]; then wait "$setup" 2>/dev/null || true; fi
    sh tests/harness/wine-fixture.sh cleanup "$harness" >/dev/null 2>&1 || true
}
trap cleanup EXIT
trap 'exit 130' INT TERM
mkdir -p "$build"
sh tests/harness/wine-fixture.sh setup "$harness" >"$build/harness-setup.log" 2>&1 &
setup=$!
cmake --build "$build" --target vb_bench
wait "$setup" || { cat "$build/harness-setup.log" >&2; exit 1; }
echo "built and prefix ready in $(($(date +%s) - started)) s"
setup=""
cp "$build/tests/fixtures/netsh_sim.exe" "$harness/prefix/drive_c/windows/system32/netsh.exe"

# Wine's drive Z: is the Unix root.
win() { printf 'Z:%s' "$1"; }
run() { timeout 900 sh tests/harness/wine-run.sh "$harness" "$@"; }
rm -f "$build/agent.json" "$build/results.json"

echo "Vellumbrook benchmark: $(/usr/lib/wine/wine64 --version 2>/dev/null || echo wine)," \
    "$(nproc) cores, load average $load when started"
run "$build/bench/vb_bench_pass.exe"
run "$build/bench/vb_bench_agent.exe" --agent "$(win "$build/Vellumbrook.exe")" \
    --tray "$(win "$build/bench/vb_bench_tray.exe")" --json "$(win "$build/agent.json")" \
    --idle-seconds "$idle"

seconds=$(($(date +%s) - started))
{
    printf '{"date": "%s", "cores": %s, "load_average_before": %s, "idle_window_s": %s,' \
        "$(date -u +%Y-%m-%dT%H:%M:%SZ)" "$(nproc)" "$load" "$idle"
    printf ' "run_s": %s,\n' "$seconds"
    printf ' "idle_agent": '
    tr -d '\n' <"$build/agent.json"
    printf '}\n'
} >"$build/results.json"
echo
echo "figures written to build/bench/results.json; the whole run took ${seconds} s"
