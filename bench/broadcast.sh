#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Broadcast cadence: runs the program with the clock at 8:1 inside a private
# network namespace and prints the datagrams per second on each port, the gaps
# between time datagrams (p50, p99, max) and the model ticks made against those
# the elapsed time asks for.     bench/broadcast.sh [seconds]
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:-10}"
if [ "${QUORANDEL_PRIVATE_NET:-}" != 1 ]; then
  source "$top/scripts/common.sh"
  build_bench_targets "$top" clock_harness udp_gaps
  exec "$top/scripts/private-net" "$0" "$@"
fi
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
cd "$scratch"
export XDG_DATA_HOME="$scratch/data"
for mode in program alone; do
  if [ "$mode" = program ]; then echo "== the whole program (window, picture export, push, broadcast)"
  else echo "== the clock and the broadcast alone"; fi
  "$top/build/bench/udp_gaps" "$seconds" &
  receiver=$!
  sleep 0.3
  QT_QPA_PLATFORM=offscreen "$top/build/bench/clock_harness" "$((seconds + 2))" 8 "$mode" 2>/dev/null
  wait "$receiver"
done
