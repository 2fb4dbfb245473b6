#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds and runs the image export benchmark on the program's own main window,
# with the clock running, inside a private network namespace: the grab and the
# worker's job, the longest time one picture keeps the event loop from serving
# anything else (beside the same with the whole job on the loop), and the size
# of the picture.
#   bench/export.sh [ticks]
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
if [ "${QUORANDEL_PRIVATE_NET:-}" != 1 ]; then
  source "$top/scripts/common.sh"
  build_bench_targets "$top" export_bench
  exec "$top/scripts/private-net" "$0" "$@"
fi
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
cd "$scratch"
export XDG_DATA_HOME="$scratch/data" XDG_CONFIG_HOME="$scratch/config"
QT_QPA_PLATFORM=offscreen "$top/build/bench/export_bench" "$@" 2>/dev/null
