#!/usr/bin/env bash
# Builds and runs the image export benchmark: the time of one export tick split
# into its steps, the size of the picture, and the longest time one tick keeps
# the event loop from serving anything else.
#   bench/export.sh [ticks]
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
cmake -S "$top" -B "$top/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$top/build" --target export_bench -j 2 >/dev/null
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')"
QT_QPA_PLATFORM=offscreen "$top/build/bench/export_bench" "$@"
