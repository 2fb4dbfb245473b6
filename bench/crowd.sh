#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# A hall full of phones on the headless program, inside a private network
# namespace: K page clients, each on a loopback address of its own, each
# keeping the live page's events stream open and opening it again 3 s after it
# ends, while the clock runs at 8:1. Prints for each model minute how many
# phones heard it and how long it took to reach them, the time broadcast's
# gaps, the streams opened and ended by the program, the program's memory and
# descriptors, and the machine's load.
#     bench/crowd.sh K [seconds]
# QUORANDEL_BASELINE_BUILD names another revision's build folder, whose
# program is measured the same way first, with this build's clients.
set -euo pipefail
# shellcheck source=SCRIPTDIR/bench-common.sh
source "$(dirname "$0")/bench-common.sh"
phones="${1:?usage: bench/crowd.sh K [seconds]}"
seconds="${2:-60}"
enter_private_net "" "quorandel crowd_load" "$@"

enter_scratch
export QUORANDEL_PASSWORD="crowd-$RANDOM$RANDOM"

measure() {  # build-folder name
  local run="$scratch/$2"
  mkdir -p "$run"
  XDG_CONFIG_HOME="$run/config" XDG_DATA_HOME="$run/data" XDG_STATE_HOME="$run/state" \
    write_settings "$QUORANDEL_PASSWORD" "streams=$((phones + 1000 < 20000 ? phones + 1000 : 20000))"$'\n'
  XDG_CONFIG_HOME="$run/config" XDG_DATA_HOME="$run/data" XDG_STATE_HOME="$run/state" \
    "$1/app/quorandel" --headless >"$run/out.txt" 2>"$run/err.txt" &
  local program=$!
  for _ in $(seq 100); do
    grep -qs '^Quorandel live clock: ' "$run/out.txt" && break
    sleep 0.1
  done
  local port
  port="$(sed -n 's|^Quorandel live clock: http://[^:/]*:\([0-9]*\)/.*|\1|p' "$run/out.txt")"
  [ -n "$port" ] || { echo "$2: the program printed no address:" >&2; cat "$run/err.txt" >&2; return 1; }
  sleep 2
  echo "== $2 ($1): $phones phones for ${seconds}s (program pid $program)"
  echo "machine load before: $(uptime | sed 's/.*load average/load average/')"
  "$top/build/bench/crowd_load" "$phones" "$seconds" "$program" "$port"
  echo "machine load after:  $(uptime | sed 's/.*load average/load average/')"
  kill -TERM "$program"
  wait "$program" || echo "the program ended with status $?"
  if [ -s "$run/err.txt" ]; then
    echo "the program's messages (count, text):"
    grep -v 'control accepted' "$run/err.txt" | sort | uniq -c | sort -rn | head -3
  fi
}

[ -z "${QUORANDEL_BASELINE_BUILD:-}" ] || measure "$QUORANDEL_BASELINE_BUILD" baseline
measure "$top/build" this-build
