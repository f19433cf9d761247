#!/usr/bin/env bash
# Builds everything and runs every test, native and under Wine.
# Extra arguments go to ctest, for example: scripts/test.sh -L native
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${TQ_BUILD_DIR:-$here/build}
bash "$here/scripts/build.sh"
ctest --test-dir "$build" --output-on-failure -j"${TQ_JOBS:-$(nproc)}" "$@"
