#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# A web root folder of 20,000 files. First how long its listing holds the
# event loop, made in one go and in the server's steps (listing_steps); then,
# with the clock at 8:1 inside a private network namespace, the gaps between time datagrams (p50, p99, max)
# with no web traffic, while one listing after another is fetched, and while
# four are fetched at once, with the number of listings served and their median
# time. Given a second build folder (another commit built with the same
# targets), its program is measured the same way in the same run.
#     bench/listing.sh [seconds] [other-build-folder]
set -euo pipefail
# shellcheck source=SCRIPTDIR/bench-common.sh
source "$(dirname "$0")/bench-common.sh"
seconds="${1:-8}"
other="${2:-}"
enter_private_net "" "clock_harness udp_gaps listing_steps" "$@"

enter_scratch
root="$XDG_DATA_HOME/Quorandel"
mkdir -p "$root/list"
(cd "$root/list" && seq -f "entry-%05g.txt" 1 20000 | xargs touch)

# The clients run at the lowest priority: on a layout they are phones and
# browsers elsewhere, not rivals of the program for its own cores.
fetcher() {  # fetches the listing again and again, one time per line
  while [ ! -e "$scratch/stop" ]; do
    nice -n 19 curl -s -o /dev/null -w '%{time_total}\n' --max-time 30 http://127.0.0.1:8080/list/ >>"$1" || true
  done
}

measure() {  # label, fetchers at once
  rm -f "$scratch/stop" "$scratch"/times.*
  touch "$scratch/times.0"
  "$build/bench/udp_gaps" "$seconds" >"$scratch/gaps.txt" &
  local receiver=$! fetchers=()
  for i in $(seq 1 "$2"); do fetcher "$scratch/times.$i" & fetchers+=($!); done
  wait "$receiver"
  touch "$scratch/stop"
  [ ${#fetchers[@]} -eq 0 ] || wait "${fetchers[@]}"
  local served median
  served=$(cat "$scratch"/times.* | wc -l)
  median=$(cat "$scratch"/times.* | sort -n | awk '{v[NR]=$1} END {if (NR) printf "%.0f ms", v[int((NR+1)/2)]*1000; else print "-"}')
  printf '  %-22s %s; %s listings, median %s\n' "$1:" "$(sed -n 's/^gap between time datagrams: //p' "$scratch/gaps.txt")" \
    "$served" "$median"
}

run() {  # build folder, name
  build="$1"
  echo "== $2 ($build)"
  start_harness "$build" "$((seconds * 3 + 8))" 8 >"$scratch/ticks.txt"
  local program=$harness
  for _ in $(seq 1 50); do curl -s -o /dev/null http://127.0.0.1:8080/ && break; sleep 0.2; done
  measure "idle" 0
  measure "one listing at a time" 1
  measure "four at once" 4
  wait "$program"
  sed 's/^/  /' "$scratch/ticks.txt"
}

echo "== the listing on the event loop"
"$top/build/bench/listing_steps" "$root/list" index.htm 3 | sed 's/^/  /'
echo "== the broadcast while it is served; ${seconds}s per figure"
run "$top/build" "this build"
if [ -n "$other" ]; then run "$other" "other build"; fi
