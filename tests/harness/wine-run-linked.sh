#!/bin/sh
# Runs a test program with a folder of the prefix replaced by a symbolic link to
# another folder of the prefix, then removes the link:
#   wine-run-linked.sh HARNESS_DIR LINK TARGET PROGRAM [ARGS...]
# LINK and TARGET are relative to the prefix's drive_c.
set -eu
vb_dir=$1
link=$2
target=$3
shift 3
. "$(dirname "$0")/wine-env.sh"
drive="$WINEPREFIX/drive_c"
rm -rf "${drive:?}/$link"
mkdir -p "$drive/$target"
ln -s "$drive/$target" "$drive/$link"
status=0
"$WINE" "$@" || status=$?
rm -f "$drive/$link"
rm -rf "${drive:?}/$target"
exit $status
