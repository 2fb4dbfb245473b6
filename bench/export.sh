#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds and runs the image export benchmark: the grab and the worker's job,
# the longest time one picture keeps the event loop from serving anything else
# (beside the same with the whole job on the loop), and the size of the picture.
#   bench/export.sh [ticks]
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
source "$top/scripts/common.sh"
build_bench_targets "$top" export_bench
QT_QPA_PLATFORM=offscreen "$top/build/bench/export_bench" "$@"
