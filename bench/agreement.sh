#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Agreement of every channel with the master: runs the program in-process at
# 8:1 with a scripted run of starts, stops, speed changes and time sets, and
# prints per channel (time datagrams, multicast, events stream, state.json)
# the worst difference from the master's model time, inside a private network
# namespace.     bench/agreement.sh [seconds]      (default 300)
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:-300}"
if [ "${QUORANDEL_PRIVATE_NET:-}" != 1 ]; then
  source "$top/scripts/common.sh"
  build_bench_targets "$top" agreement
  exec "$top/scripts/private-net" "$0" "$@"
fi
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
cd "$scratch"
export XDG_DATA_HOME="$scratch/data" XDG_CONFIG_HOME="$scratch/config"
export XDG_CONFIG_DIRS="$scratch/etc" XDG_STATE_HOME="$scratch/state"
password="agreement-$RANDOM$RANDOM"
mkdir -p "$XDG_CONFIG_HOME/Quorandel"
( umask 077; printf '[remote]\npassword=%s\n[fastclock]\nenabled=true\n' "$password" \
    >"$XDG_CONFIG_HOME/Quorandel/quorandel.conf" )
QT_QPA_PLATFORM=offscreen "$top/build/bench/agreement" "$seconds" "$password" 2>"$scratch/err.txt" \
  || { cat "$scratch/err.txt" >&2; exit 1; }
grep -v "^qt\.\|accepted: " "$scratch/err.txt" | sort | uniq -c | sort -rn | head -5 || true
