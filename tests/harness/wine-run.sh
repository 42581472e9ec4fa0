#!/bin/sh
# Runs one Windows program in the test prefix: wine-run.sh HARNESS_DIR PROGRAM [ARGS...]
vb_dir=$1
shift
. "$(dirname "$0")/wine-env.sh"
exec "$WINE" "$@"
