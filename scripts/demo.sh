#!/usr/bin/env bash
# Builds, then starts the viewer under Wine on a sample database folder.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
export TQ_BUILD_DIR=${TQ_BUILD_DIR:-$here/build}
bash "$here/scripts/build.sh" >/dev/null
exec python3 "$here/scripts/demo.py" "$@"
