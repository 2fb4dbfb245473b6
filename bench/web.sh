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
# shellcheck source=SCRIPTDIR/bench-common.sh
source "$(dirname "$0")/bench-common.sh"
build="${QUORANDEL_BUILD:-$top/build}"
seconds="${1:-10}"
connections="${2:-64}"
build_targets="clock_harness udp_gaps"
[ -z "${QUORANDEL_BUILD:-}" ] || build_targets=""  # another revision's build is measured as it stands
enter_private_net "wrk python3" "$build_targets" "$@"

enter_scratch
root="$XDG_DATA_HOME/Quorandel"
mkdir -p "$root/folder"
head -c 65536 /dev/urandom >"$root/file64k.bin"
for i in $(seq 1 40); do head -c $((i * 1000)) /dev/zero >"$root/folder/entry-$i.txt"; done

summary() {  # url figures-file -> one line, and the figures kept
  local rps p50 p99 errors
  run_wrk "$1" | wrk_figures >"$2"
  read -r rps p50 p99 _ errors <"$2"
  echo "$rps req/s, latency p50 $p50, p99 $p99, errors: $errors"
}

"$build/bench/udp_gaps" "$((seconds * 2 + 2))" >"$scratch/gaps.txt" &
gaps=$!
start_harness "$build" "$((seconds * 2 + 6))" 8 >"$scratch/ticks.txt"
sleep 3
echo "== Quorandel, $connections connections, ${seconds}s each"
echo -n "64 KB file: "
summary http://127.0.0.1:8080/file64k.bin "$scratch/file.fig"
echo -n "listing:    "
summary http://127.0.0.1:8080/folder/ "$scratch/listing.fig"
wait "$gaps"
wait "$harness"
echo "== during the load"
cat "$scratch/gaps.txt" "$scratch/ticks.txt"

echo "== reference: python3 -m http.server"
python3 -m http.server 8081 --bind 127.0.0.1 --directory "$root" >/dev/null 2>&1 &
sleep 1
echo -n "64 KB file: "
summary http://127.0.0.1:8081/file64k.bin "$scratch/ref.fig"
read -r ours _ <"$scratch/file.fig"
read -r ref _ <"$scratch/ref.fig"
awk -v a="$ours" -v b="$ref" 'BEGIN {printf "ratio Quorandel / reference: %.2f\n", (b > 0 ? a / b : 0)}'
