#!/usr/bin/env bash
# Configures and builds both trees: the host build in $TQ_BUILD_DIR (default
# build/) and, inside it, the Windows build in build/win.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${TQ_BUILD_DIR:-$here/build}
bash "$here/scripts/setup.sh" >/dev/null
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -- -j"${TQ_JOBS:-$(nproc)}"
