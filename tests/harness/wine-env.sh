# Sourced with vb_dir set to the harness folder: the test prefix's environment.
# Debian keeps wine64 and wineserver out of PATH.
WINE=$(PATH=/usr/lib/wine:$PATH command -v wine64 || command -v wine) || { echo "no wine" >&2; exit 1; }
WINESERVER=$(PATH=/usr/lib/wine:$PATH command -v wineserver) || { echo "no wineserver" >&2; exit 1; }
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
