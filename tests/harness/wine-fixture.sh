#!/bin/sh
# wine-fixture.sh setup|cleanup HARNESS_DIR [FILE=NAME_IN_SYSTEM32 ...]: one throwaway
# prefix, wineserver and Xvfb display for the whole run. What starts here keeps its
# standard streams away from ctest's pipes, or ctest would wait for it forever.
set -eu
action=$1
dir=$2
shift 2
mkdir -p "$dir"
vb_dir=$dir
. "$(dirname "$0")/wine-env.sh"
quiet() { "$@" </dev/null >/dev/null 2>&1; }

[ ! -d "$WINEPREFIX" ] || quiet "$WINESERVER" -k || true
# Only the Xvfb this harness started, by its id.
if [ -s "$dir/xvfb.pid" ] && grep -q Xvfb "/proc/$(cat "$dir/xvfb.pid")/cmdline" 2>/dev/null; then
    kill "$(cat "$dir/xvfb.pid")" 2>/dev/null || true
fi
rm -f "$dir/xvfb.pid" "$dir/display"
[ "$action" = setup ] || exit 0

rm -rf "$WINEPREFIX"
mkdir -p "$WINEPREFIX"
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$dir/display" \
    </dev/null >/dev/null 2>"$dir/xvfb.log" &
echo $! >"$dir/xvfb.pid"
for tries in $(seq 100); do [ -s "$dir/display" ] && break || sleep 0.1; done
[ -s "$dir/display" ] || { echo "Xvfb did not start" >&2; cat "$dir/xvfb.log" >&2; exit 1; }
export DISPLAY=":$(cat "$dir/display")"

quiet "$WINESERVER" -p
quiet "$WINE" wineboot -i
# Without a window manager, Wine's X11 driver waits about two seconds for one each
# time a captioned window is hidden; unmanaged windows do not wait.
quiet "$WINE" reg add "HKCU\\Software\\Wine\\X11 Driver" /v Managed /d N /f
# The windows are laid out for Segoe UI, which Wine lacks; Liberation Sans is as wide, within 1 %.
quiet "$WINE" reg add "HKCU\\Software\\Wine\\Fonts\\Replacements" /v "Segoe UI" /d "Liberation Sans" /f
# A crashing test program must end, not wait in the debugger until ctest's time-out.
quiet "$WINE" reg delete "HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\AeDebug" /f || true
# schtasks needs Wine's Task Scheduler service: started on demand in a new prefix it
# locks the service manager for good; started by a restart of the prefix, it just runs.
quiet "$WINE" reg add "HKLM\\System\\CurrentControlSet\\Services\\Schedule" /v Start /t REG_DWORD /d 2 /f
quiet "$WINESERVER" -k || true
quiet "$WINESERVER" -w || true
quiet "$WINESERVER" -p
quiet "$WINE" wineboot
for pair in "$@"; do
    cp "${pair%%=*}" "$WINEPREFIX/drive_c/windows/system32/${pair#*=}"
done
echo "test prefix ready: $WINEPREFIX on display $DISPLAY"
