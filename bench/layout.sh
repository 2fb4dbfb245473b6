#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# An operating session's load on the headless program, inside a private
# network namespace: 50 phones keeping the live page's events stream open and
# 20 browsers asking for state.json and the picture once a second each, with
# the clock started at 8:1 from the control form. Prints how late each model
# minute reaches every stream (p50, p99, max), the broadcast's rate and p99
# gap, lost model ticks, the program's memory at the start and the end of the
# load, the failed polls and picture fetches, and the machine's load.
#     bench/layout.sh [seconds]
set -euo pipefail
# shellcheck source=SCRIPTDIR/bench-common.sh
source "$(dirname "$0")/bench-common.sh"
seconds="${1:-60}"
enter_private_net "" "quorandel layout_load" "$@"

enter_scratch
export QUORANDEL_PASSWORD="layout-$RANDOM$RANDOM"
write_settings "$QUORANDEL_PASSWORD"

"$top/build/app/quorandel" --headless >"$scratch/out.txt" 2>"$scratch/err.txt" &
program=$!
for _ in $(seq 100); do
  grep -q '^Quorandel live clock: ' "$scratch/out.txt" && break
  sleep 0.1
done
address="$(sed -n 's/^Quorandel live clock: //p' "$scratch/out.txt")"
[ -n "$address" ] || { echo "the program printed no address:" >&2; cat "$scratch/err.txt" >&2; exit 1; }
port="$(echo "$address" | sed 's|^http://[^:/]*:\([0-9]*\)/.*|\1|')"
# The first picture is written a second after start-up.
sleep 2
echo "program: $address (pid $program)"
echo "machine load before: $(uptime | sed 's/.*load average/load average/')"
"$top/build/bench/layout_load" "$seconds" "$program" "$port"
echo "machine load after:  $(uptime | sed 's/.*load average/load average/')"
kill -TERM "$program"
wait "$program" || echo "the program ended with status $?"
if [ -s "$scratch/err.txt" ]; then
  echo "the program's messages (count, text):"
  sort "$scratch/err.txt" | uniq -c | sort -rn | head -5
fi
