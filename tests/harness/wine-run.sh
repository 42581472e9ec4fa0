#!/bin/sh
# Runs one Windows program in the test prefix:
#   wine-run.sh HARNESS_DIR [--link LINK TARGET] PROGRAM [ARGS...]
# With --link, the prefix's folder LINK is a symbolic link to the folder TARGET
# (both relative to drive_c) while the program runs.
vb_dir=$1
shift
. "$(dirname "$0")/wine-env.sh"
[ "$1" = --link ] || exec "$WINE" "$@"
drive="$WINEPREFIX/drive_c"
rm -rf "${drive:?}/$2" && mkdir -p "$drive/$3" && ln -s "$drive/$3" "$drive/$2"
link=$2 target=$3
shift 3
status=0
"$WINE" "$@" || status=$?
rm -rf "${drive:?}/$link" "${drive:?}/$target"
exit $status
