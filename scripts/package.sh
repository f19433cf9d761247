#!/usr/bin/env bash
# Builds the release of the Windows programs (optimised, no sanitizers, with
# symbols that are then stripped into .debug files) in $TQ_RELEASE_DIR
# (default build-release/) and packs it into $TQ_DIST_DIR (default dist/):
# scale-tools-<version>.zip and .msi, and the symbols beside them.
# Prints each artefact's SHA-256 and path.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${TQ_RELEASE_DIR:-$here/build-release}
dist=${TQ_DIST_DIR:-$here/dist}
bash "$here/scripts/setup.sh" >/dev/null

# File times in the zip are the commit's, so that one commit packs the same bytes.
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
    SOURCE_DATE_EPOCH=$(git -C "$here" log -1 --format=%ct 2>/dev/null || echo 315532800)
fi
export SOURCE_DATE_EPOCH

# The build folder's and source's paths would otherwise be written into the
# symbols, whose checksum the stripped binaries carry.
maps="-ffile-prefix-map=$here=. -ffile-prefix-map=$build=build"
cmake -S "$here" -B "$build" -G Ninja \
      -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw-i686.cmake" \
      -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_C_FLAGS="$maps" -DCMAKE_CXX_FLAGS="$maps" \
      -DTQ_COMPONENTS="viewer;kbdriver;printertest" >/dev/null
cmake --build "$build" --target TQScaleDBViewer TQ850KB LMT520EU tqdb kbmon \
      -- -j"${TQ_JOBS:-$(nproc)}" >/dev/null
python3 "$here/tools/release/package.py" --build "$build" --dist "$dist"
