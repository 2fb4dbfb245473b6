#!/usr/bin/env bash
# Builds and runs the image export benchmark: the time of one export tick split
# into its steps, the size of the picture, and the longest time one tick keeps
# the event loop from serving anything else.
#   bench/export.sh [ticks]
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
source "$top/scripts/common.sh"
build_bench_targets "$top" export_bench
QT_QPA_PLATFORM=offscreen "$top/build/bench/export_bench" "$@"
