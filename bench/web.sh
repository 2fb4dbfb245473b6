#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Web server under load: a 64 KB file and a folder listing fetched by many
# concurrent clients (wrk) for a while, with the clock running at 8:1, inside a
# private network namespace. Prints requests per second, latency p50/p99 and
# errors for both, the broadcast's gaps and lost model ticks during the load,
# and the program's memory early and late in the run. The same file is then
# fetched from python3's http.server as a reference.
#     bench/web.sh [seconds] [connections]
# QUORANDEL_BUILD names another revision's build folder (clock_harness and
# udp_gaps built there), to measure it as a baseline.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
build="${QUORANDEL_BUILD:-$top/build}"
seconds="${1:-10}"
connections="${2:-64}"
if [ "${QUORANDEL_PRIVATE_NET:-}" != 1 ]; then
  source "$top/scripts/common.sh"
  install_missing_packages wrk python3
  [ -n "${QUORANDEL_BUILD:-}" ] || build_bench_targets "$top" clock_harness udp_gaps
  exec "$top/scripts/private-net" "$0" "$@"
fi

scratch="$(mktemp -d)"
trap 'kill $(jobs -p) 2>/dev/null; rm -rf "$scratch"' EXIT
cd "$scratch"
export XDG_DATA_HOME="$scratch/data"
root="$XDG_DATA_HOME/Quorandel"
mkdir -p "$root/folder"
head -c 65536 /dev/urandom >"$root/file64k.bin"
for i in $(seq 1 40); do head -c $((i * 1000)) /dev/zero >"$root/folder/entry-$i.txt"; done

summary() {  # wrk output -> one line
  awk '/Requests\/sec/ {rps=$2} /^ +50%/ {p50=$2} /^ +99%/ {p99=$2}
       /Socket errors/ {err=$0} /Non-2xx/ {non2xx=$0}
       END {printf "%s req/s, latency p50 %s, p99 %s, errors: %s %s\n", rps, p50, p99,
            (err == "" ? "none" : err), non2xx}'
}

"$build/bench/udp_gaps" "$((seconds * 2 + 2))" >"$scratch/gaps.txt" &
gaps=$!
QT_QPA_PLATFORM=offscreen "$build/bench/clock_harness" "$((seconds * 2 + 6))" 8 >"$scratch/ticks.txt" 2>/dev/null &
program=$!
sleep 3
echo "== Quorandel, $connections connections, ${seconds}s each"
echo -n "64 KB file: "
wrk -t2 -c"$connections" -d"${seconds}s" --latency http://127.0.0.1:8080/file64k.bin | tee "$scratch/file.txt" | summary
echo -n "listing:    "
wrk -t2 -c"$connections" -d"${seconds}s" --latency http://127.0.0.1:8080/folder/ | summary
wait "$gaps"
wait "$program"
echo "== during the load"
cat "$scratch/gaps.txt" "$scratch/ticks.txt"

echo "== reference: python3 -m http.server"
python3 -m http.server 8081 --bind 127.0.0.1 --directory "$root" >/dev/null 2>&1 &
sleep 1
echo -n "64 KB file: "
wrk -t2 -c"$connections" -d"${seconds}s" --latency http://127.0.0.1:8081/file64k.bin | tee "$scratch/ref.txt" | summary
ours=$(awk '/Requests\/sec/ {print $2}' "$scratch/file.txt")
ref=$(awk '/Requests\/sec/ {print $2}' "$scratch/ref.txt")
awk -v a="$ours" -v b="$ref" 'BEGIN {printf "ratio Quorandel / reference: %.2f\n", (b > 0 ? a / b : 0)}'
