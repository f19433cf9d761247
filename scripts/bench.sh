#!/usr/bin/env bash
# Builds the optimised host tree (no sanitizers) and runs the data core's
# benchmark: scripts/bench.sh [records, default 10000; 10x that is run too],
# then the CSV export and import of 100,000 goods records.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
bench_build=${TQ_BENCH_BUILD_DIR:-$here/build-bench}
bash "$here/scripts/setup.sh" >/dev/null
cmake -S "$here" -B "$bench_build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTQ_SANITIZE=OFF \
      -DTQ_WINDOWS_BUILD=OFF -DTQ_VIEWER_APP=OFF -DTQ_COMPONENTS="viewer;bench" >/dev/null
cmake --build "$bench_build" --target bench_viewer_core bench_viewer_csv >/dev/null
"$bench_build/bench/viewer_core/bench_viewer_core" "${1:-10000}"
"$bench_build/bench/viewer_csv/bench_viewer_csv" 100000
