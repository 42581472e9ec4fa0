#!/bin/sh
# Starts or stops the test machine: one throwaway Wine prefix, one persistent
# wineserver and one Xvfb display for the whole test run.
#   wine-fixture.sh setup HARNESS_DIR [FILE=NAME_IN_SYSTEM32 ...]
#   wine-fixture.sh cleanup HARNESS_DIR
# Everything started here has its standard streams away from ctest's pipes,
# or ctest would wait for it forever.
set -eu
action=$1
dir=$2
shift 2
mkdir -p "$dir"
vb_dir=$dir
. "$(dirname "$0")/wine-env.sh"

stop_xvfb() {
    if [ -s "$dir/xvfb.pid" ]; then
        pid=$(cat "$dir/xvfb.pid")
        # Only the Xvfb this harness started, by its id.
        if grep -q Xvfb "/proc/$pid/cmdline" 2>/dev/null; then kill "$pid" 2>/dev/null || true; fi
        rm -f "$dir/xvfb.pid" "$dir/display"
    fi
}

stop_wine() {
    if [ -d "$WINEPREFIX" ]; then "$WINESERVER" -k </dev/null >/dev/null 2>&1 || true; fi
}

case "$action" in
setup)
    stop_wine
    stop_xvfb
    rm -rf "$WINEPREFIX"
    mkdir -p "$WINEPREFIX"

    rm -f "$dir/display"
    Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$dir/display.new" \
        </dev/null >/dev/null 2>"$dir/xvfb.log" &
    echo $! >"$dir/xvfb.pid"
    tries=0
    until [ -s "$dir/display.new" ]; do
        tries=$((tries + 1))
        [ $tries -lt 100 ] || { echo "Xvfb did not start" >&2; cat "$dir/xvfb.log" >&2; exit 1; }
        sleep 0.1
    done
    tr -d '\n' <"$dir/display.new" >"$dir/display"
    rm -f "$dir/display.new"
    export DISPLAY=":$(cat "$dir/display")"

    "$WINESERVER" -p </dev/null >/dev/null 2>&1
    "$WINE" wineboot -i </dev/null >/dev/null 2>&1
    # Without a window manager, Wine's X11 driver waits about two seconds for one each
    # time a captioned window is hidden; unmanaged windows do not wait.
    "$WINE" reg add "HKCU\\Software\\Wine\\X11 Driver" /v Managed /d N /f </dev/null >/dev/null 2>&1
    # The windows are laid out for Segoe UI, which Wine lacks; Liberation Sans is as wide, within 1 %.
    "$WINE" reg add "HKCU\\Software\\Wine\\Fonts\\Replacements" /v "Segoe UI" /d "Liberation Sans" /f \
        </dev/null >/dev/null 2>&1
    # A crashing test program must end, not wait in the debugger until ctest's time-out.
    "$WINE" reg delete "HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\AeDebug" /f \
        </dev/null >/dev/null 2>&1 || true

    # The setup program registers its logon task through schtasks, which needs Wine's
    # Task Scheduler service. Started on demand right after the prefix is made, it
    # locks Wine's service manager for good; started by a restart of the prefix, it
    # just runs.
    "$WINE" reg add "HKLM\\System\\CurrentControlSet\\Services\\Schedule" /v Start /t REG_DWORD /d 2 /f \
        </dev/null >/dev/null 2>&1
    "$WINESERVER" -k </dev/null >/dev/null 2>&1 || true
    "$WINESERVER" -w </dev/null >/dev/null 2>&1 || true
    "$WINESERVER" -p </dev/null >/dev/null 2>&1
    "$WINE" wineboot </dev/null >/dev/null 2>&1

    system32="$WINEPREFIX/drive_c/windows/system32"
    for pair in "$@"; do
        cp "${pair%%=*}" "$system32/${pair#*=}"
    done
    echo "test prefix ready: $WINEPREFIX on display $DISPLAY"
    ;;
cleanup)
    stop_wine
    stop_xvfb
    ;;
*)
    echo "usage: $0 setup|cleanup HARNESS_DIR [FILE=NAME ...]" >&2
    exit 2
    ;;
esac
