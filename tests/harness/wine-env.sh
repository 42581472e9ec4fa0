# Sourced by the harness scripts: the environment of the throwaway test prefix.
# The caller sets vb_dir to the harness folder inside the build folder.
vb_find() {
    for candidate in "$@"; do
        if [ -x "$candidate" ]; then echo "$candidate"; return 0; fi
        found=$(command -v "$candidate" 2>/dev/null) && { echo "$found"; return 0; }
    done
    return 1
}
# Debian keeps wine64 and wineserver out of PATH.
WINE=$(vb_find /usr/lib/wine/wine64 wine64 /usr/lib/wine/wine wine) || { echo "wine not found" >&2; exit 1; }
WINESERVER=$(vb_find /usr/lib/wine/wineserver64 /usr/lib/wine/wineserver wineserver) || { echo "wineserver not found" >&2; exit 1; }
export WINEPREFIX="$vb_dir/prefix"
export WINEARCH=win64
export WINEDEBUG=-all
# Wine derives the OEM code page from the Unix locale: pin it (code page 437).
export LC_ALL=C.UTF-8
# netsh.exe in the prefix's system32 is the simulator; no Mono or Gecko prompts.
export WINEDLLOVERRIDES="netsh.exe=n;mscoree=;mshtml="
# The tests that change the machine run only where this is set, and only under Wine.
export VB_TEST_SANDBOX=1
export GTEST_COLOR=no
if [ -s "$vb_dir/display" ]; then export DISPLAY=":$(cat "$vb_dir/display")"; fi
