#!/bin/sh
# The benchmark (not part of the tests): installs what it needs, builds the agent
# and the programs of bench/ into build/bench, runs them under Wine in a throwaway
# prefix inside build/bench/harness (its own wineserver and Xvfb display, both
# stopped at the end) and prints one table.
#   tools/bench.sh [--full-idle | --idle-seconds N]
# The idle agent is watched for 60 s, its processor time scaled to 5 minutes;
# --full-idle watches it for the whole 5 minutes.
set -eu
cd "$(dirname "$0")/.."
build="$(pwd)/build/bench"
harness="$build/harness"
case "${1:-}" in
"") idle=60 ;;
--full-idle) idle=300 ;;
--idle-seconds) idle=$2 ;;
*) echo "usage: $0 [--full-idle | --idle-seconds N]" >&2; exit 2 ;;
esac
started=$(date +%s)
load=$(cut -d' ' -f1 /proc/loadavg)  # other work on the machine shows in every figure

tools/deps.sh
cmake --preset mingw -B "$build" -DVB_BUILD_TESTS=ON -DVB_BUILD_BENCH=ON >/dev/null
trap 'sh tests/harness/wine-fixture.sh cleanup "$harness" >/dev/null 2>&1 || true' EXIT
trap 'exit 130' INT TERM
cmake --build "$build" --target vb_bench
sh tests/harness/wine-fixture.sh setup "$harness" >"$build/harness-setup.log" 2>&1 ||
    { cat "$build/harness-setup.log" >&2; exit 1; }
cp "$build/tests/fixtures/netsh_sim.exe" "$harness/prefix/drive_c/windows/system32/netsh.exe"
# The service is only ever registered from the agent's Program Files folder.
programs="$harness/prefix/drive_c/Program Files/Vellumbrook"
mkdir -p "$programs" && cp "$build/Vellumbrook.exe" "$programs/"

run() { timeout 1200 sh tests/harness/wine-run.sh "$harness" "$@"; }
echo "Vellumbrook benchmark: $(/usr/lib/wine/wine64 --version 2>/dev/null || echo wine)," \
    "$(nproc) cores, load average $load when started"
run "$build/bench/vb_bench_pass.exe"
# Wine's drive Z: is the Unix root.
run "$build/bench/vb_bench_agent.exe" 'C:\Program Files\Vellumbrook\Vellumbrook.exe' \
    "Z:$build/bench/vb_bench_tray.exe" "$idle"
agent=$(stat -c %s "$build/Vellumbrook.exe")
tray=$(stat -c %s "$build/bench/vb_bench_tray.exe")
printf '  %-46s %12s %12s  x%s\n\nthe whole run took %s s\n' "program file: bytes" "$agent" "$tray" \
    "$(awk "BEGIN { printf \"%.2f\", $agent / $tray }")" "$(($(date +%s) - started))"
