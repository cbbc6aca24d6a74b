#!/usr/bin/env bash
# Runs a Windows program under Wine in the test environment that wine_env.sh set up.
# Usage: wine_run.sh STATE_DIR PROGRAM.exe [ARGS...]   (CTest's cross-compiling emulator)
set -euo pipefail
state=${1:?state dir}
shift
# shellcheck disable=SC1091
. "$state/env.sh"
exec "$WINE" "$@"
