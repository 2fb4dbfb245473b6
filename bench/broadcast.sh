#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Broadcast cadence: runs the program with the clock at 8:1 inside a private
# network namespace and prints the datagrams per second on each port, the gaps
# between time datagrams (p50, p99, max) and the model ticks made against those
# the elapsed time asks for.     bench/broadcast.sh [seconds]
set -euo pipefail
# shellcheck source=SCRIPTDIR/bench-common.sh
source "$(dirname "$0")/bench-common.sh"
seconds="${1:-10}"
enter_private_net "" "clock_harness udp_gaps" "$@"
enter_scratch
for mode in program alone; do
  if [ "$mode" = program ]; then echo "== the whole program (window, picture export, push, broadcast)"
  else echo "== the clock and the broadcast alone"; fi
  "$top/build/bench/udp_gaps" "$seconds" &
  receiver=$!
  sleep 0.3
  start_harness "$top/build" "$((seconds + 2))" 8 "$mode"
  wait "$harness"
  wait "$receiver"
done
