#!/bin/sh
# wine-run.sh HARNESS_DIR [--link LINK TARGET] PROGRAM [ARGS...]: runs it in the test
# prefix; with --link, drive_c's LINK is a symbolic link to its TARGET meanwhile.
vb_dir=$1
shift
. "$(dirname "$0")/wine-env.sh"
[ "$1" = --link ] || exec "$WINE" "$@"
drive="$WINEPREFIX/drive_c"
rm -rf "${drive:?}/$2" && mkdir -p "$drive/$3" && ln -s "$drive/$3" "$drive/$2"
link=$2 target=$3
shift 3
"$WINE" "$@"
status=$?
rm -rf "${drive:?}/$link" "${drive:?}/$target"
exit $status
