#!/usr/bin/env bash
# Builds, then starts the viewer under Wine on a sample database folder.
#   scripts/demo.sh                    the viewer on build/demo/Internal
#   scripts/demo.sh wizard [SCENARIO]  the printer wizard on the simulator control
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
export TQ_BUILD_DIR=${TQ_BUILD_DIR:-$here/build}
bash "$here/scripts/build.sh" >/dev/null
if [ "${1:-}" = wizard ]; then
    shift
    exec python3 "$here/printertest/demo_wizard.py" "$@"
fi
exec python3 "$here/scripts/demo.py" "$@"
