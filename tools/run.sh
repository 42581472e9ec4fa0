#!/bin/sh
# Runs the real agent in a sandbox: its own Wine prefix inside the build folder
# (never your own), with the netsh simulator standing in for netsh and two
# simulated network adapters. With a DISPLAY the agent shows there, in a Wine
# desktop window with a taskbar and its tray icon; without one it runs under Xvfb,
# saves a screenshot and prints what it changed in the sandbox.
#   tools/run.sh [--fresh]     --fresh starts again from a new prefix
set -eu
cd "$(dirname "$0")/.."
root=$PWD
tools/deps.sh
cmake --preset mingw >/dev/null
cmake --build --preset mingw

sandbox=$root/build/mingw/sandbox
[ "${1:-}" = "--fresh" ] && rm -rf "$sandbox"
mkdir -p "$sandbox"
vb_dir=$sandbox
user_display=${DISPLAY:-}
. "$root/tests/harness/wine-env.sh"
unset VB_TEST_SANDBOX

agent_pid=""
xvfb_pid=""
stop() {
    trap - INT TERM EXIT
    [ -n "$agent_pid" ] && kill "$agent_pid" 2>/dev/null || true
    "$WINESERVER" -k </dev/null >/dev/null 2>&1 || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
}
trap stop INT TERM EXIT

if [ -n "$user_display" ]; then
    export DISPLAY="$user_display"
else
    rm -f "$sandbox/display"
    Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$sandbox/display" \
        </dev/null >/dev/null 2>"$sandbox/xvfb.log" &
    xvfb_pid=$!
    until [ -s "$sandbox/display" ]; do sleep 0.1; done
    export DISPLAY=":$(tr -d '\n' <"$sandbox/display")"
fi

mkdir -p "$WINEPREFIX"
"$WINESERVER" -p </dev/null >/dev/null 2>&1
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "making the sandbox prefix in $WINEPREFIX"
    "$WINE" wineboot -i </dev/null >/dev/null 2>&1
fi
# The windows are laid out for Segoe UI, which Wine lacks; Liberation Sans is as wide,
# within 1 %. Set on every run, so that a sandbox made before it gets it too.
"$WINE" reg add "HKCU\\Software\\Wine\\Fonts\\Replacements" /v "Segoe UI" /d "Liberation Sans" /f \
    </dev/null >/dev/null 2>&1
drive="$WINEPREFIX/drive_c"
cp "$root/build/mingw/tests/fixtures/netsh_sim.exe" "$drive/windows/system32/netsh.exe"
mkdir -p "$drive/netsh-sim"
# A sandbox made by an earlier version keeps its adapters in another format.
grep -qs '^adapter ' "$drive/netsh-sim/state.txt" && rm "$drive/netsh-sim/state.txt"
if [ ! -f "$drive/netsh-sim/state.txt" ]; then
    cat >"$drive/netsh-sim/state.txt" <<'STATE'
1 connected dhcp dhcp - Loopback Pseudo-Interface 1
12 connected dhcp dhcp - Wi-Fi
7 disconnected dhcp dhcp - Ethernet
STATE
fi

agent=$(printf 'Z:%s' "$root/build/mingw/Vellumbrook.exe" | tr '/' '\\')
"$WINE" explorer /desktop=Vellumbrook,1280x800 "$agent" </dev/null >"$sandbox/agent.log" 2>&1 &
agent_pid=$!

if [ -n "$user_display" ]; then
    echo "Vellumbrook runs in the sandbox on $DISPLAY; close it with Quitter in its tray menu, or Ctrl+C here."
    wait "$agent_pid" || true
    exit 0
fi

sleep 10
import -window root "$sandbox/screenshot.png"
echo "screenshot: $sandbox/screenshot.png"
echo
echo "== hosts file: the agent's block =="
sed -n '/^# >>> Vellumbrook >>>/,/^# <<< Vellumbrook <<</p' "$drive/windows/system32/drivers/etc/hosts" | tr -d '\r'
echo "(end of block)"
echo
echo "== policies =="
for key in 'Google\Chrome DnsOverHttpsMode' 'Microsoft\Edge DnsOverHttpsMode' \
    'BraveSoftware\Brave DnsOverHttpsMode' 'Chromium DnsOverHttpsMode' \
    'Mozilla\Firefox\DNSOverHTTPS Enabled' 'Mozilla\Firefox\DNSOverHTTPS Locked' \
    'Microsoft\Windows NT\DNSClient DoHPolicy'; do
    path=${key% *}
    value=${key##* }
    found=$("$WINE" reg query "HKLM\\Software\\Policies\\$path" /v "$value" </dev/null 2>/dev/null |
        tr -d '\r' | grep -i "$value" | sed 's/^ *//') || found="(absent)"
    echo "HKLM\\Software\\Policies\\$path: ${found:-(absent)}"
done
echo
echo "== adapters (netsh simulator) =="
sed -n 's/^[0-9]* [a-z]* \([^ ]*\) \([^ ]*\) [^ ]* \(.*\)$/\3: IPv4 \1, IPv6 \2/p' \
    "$drive/netsh-sim/state.txt"
