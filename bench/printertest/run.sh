#!/usr/bin/env bash
# Builds and runs the wizard's link check benchmark under Wine.
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
build=${TQ_BUILD_DIR:-$here/build}
bash "$here/scripts/build.sh"
python3 "$here/tools/wine/winharness.py" --build "$build" run -- "$build/win/bench/printertest_bench.exe"
