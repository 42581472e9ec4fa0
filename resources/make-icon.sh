#!/bin/sh
# Redraws resources/vellumbrook.ico from draw_icon.py. Only needed after the
# artwork changes: the .ico is kept in the tree, and the build never draws.
#   resources/make-icon.sh [PREVIEW_DIR]
# With PREVIEW_DIR, each size is also written there as a PNG to look at.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
python3 "$here/draw_icon.py" "$here/vellumbrook.ico" "$@"
