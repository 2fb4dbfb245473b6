#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The 32 KB picture fetched by many concurrent clients (wrk), from Quorandel
# (the whole program, clock running at 8:1), from lighttpd and from python3's
# http.server, one after the other in the same run, inside a private network
# namespace. Prints requests per second and p99 latency for each, and ours
# against lighttpd's beside the goals (at least 0.25 of its requests per
# second, p99 within 3 times its p99), and the gaps between the program's time
# datagrams while it serves the picture (goal: p99 at most 13 ms).
#     bench/picture.sh [seconds] [connections]
# With QUORANDEL_BASELINE_BUILD set to the build folder of another revision
# (its bench/clock_harness built), that revision is measured first, as the
# baseline of the same run.
set -euo pipefail
# shellcheck source=SCRIPTDIR/bench-common.sh
source "$(dirname "$0")/bench-common.sh"
seconds="${1:-10}"
connections="${2:-64}"
enter_private_net "wrk python3 lighttpd" "clock_harness udp_gaps" "$@"

enter_scratch
root="$XDG_DATA_HOME/Quorandel"
mkdir -p "$root"
head -c 32768 /dev/urandom >"$root/picture.png"

load() {  # name url [wrk options]
  local out="$scratch/$1.txt" rps p99 errors
  run_wrk "${@:3}" "$2" >"$out"
  read -r rps _ _ p99 errors < <(wrk_figures <"$out")
  [ "$errors" != none ] || errors="no errors"
  printf "%-22s %10s req/s   p99 %8s ms   %s\n" "$1" "$rps" "$p99" "$errors"
  echo "$rps $p99" >"$scratch/$1.fig"
}
quorandel() {  # name build-folder
  start_harness "$2" "$((seconds + 6))" 8 >/dev/null
  sleep 3
  "$top/build/bench/udp_gaps" "$seconds" >"$scratch/gaps.txt" &
  local gaps=$!
  load "$1" http://127.0.0.1:8080/picture.png
  wait "$gaps"
  sed -n 's/^gap between time datagrams: /  broadcast during it: gap /p' "$scratch/gaps.txt"
  wait "$harness" || true
}
judge() {  # name
  read -r rps p99 <"$scratch/$1.fig"
  read -r lrps lp99 <"$scratch/lighttpd.fig"
  awk -v a="$rps" -v b="$lrps" -v p="$p99" -v q="$lp99" -v n="$1" 'BEGIN {
    r = (b > 0 ? a / b : 0); l = (q > 0 ? p / q : 0)
    printf "%-22s %.3f of lighttpd'"'"'s req/s (goal >= 0.25: %s), p99 %.2f x lighttpd'"'"'s (goal <= 3: %s)\n",
           n, r, (r >= 0.25 ? "met" : "missed"), l, (l <= 3 ? "met" : "missed") }'
}

echo "== 32 KB picture, $connections connections, ${seconds}s each"
if [ -n "${QUORANDEL_BASELINE_BUILD:-}" ]; then
  quorandel "Quorandel (baseline)" "$QUORANDEL_BASELINE_BUILD"
fi
quorandel "Quorandel" "$top/build"

cat >"$scratch/lighttpd.conf" <<CONF
server.document-root = "$root"
server.bind = "127.0.0.1"
server.port = 8082
server.pid-file = "$scratch/lighttpd.pid"
server.errorlog = "$scratch/lighttpd.log"
CONF
lighttpd -D -f "$scratch/lighttpd.conf" &
lighttpd=$!
python3 -m http.server 8081 --bind 127.0.0.1 --directory "$root" >/dev/null 2>&1 &
python=$!
sleep 1
load lighttpd http://127.0.0.1:8082/picture.png
# Quorandel speaks HTTP/1.0 and closes after each answer; lighttpd made to do
# the same shows what of the difference is the connection set-up.
load "lighttpd, closing" http://127.0.0.1:8082/picture.png -H "Connection: close"
load "python3 http.server" http://127.0.0.1:8081/picture.png
kill "$lighttpd" "$python"

echo "== against lighttpd"
[ -n "${QUORANDEL_BASELINE_BUILD:-}" ] && judge "Quorandel (baseline)"
judge "Quorandel"
judge "python3 http.server"
echo "== against lighttpd closing each connection"
cp "$scratch/lighttpd, closing.fig" "$scratch/lighttpd.fig"
judge "Quorandel"
