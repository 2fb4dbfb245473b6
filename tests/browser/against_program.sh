#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs the live page's browser test (Chromium, and Firefox ESR when it is
# installed) against the built program itself, started
# headless in a scratch folder with a control password of its own:
#   against_program.sh PROGRAM
# It broadcasts, so it runs only inside the private network namespace of
# ./test.sh (exit 77, counted as skipped, anywhere else).
set -euo pipefail
program="$1"
here="$(cd "$(dirname "$0")" && pwd)"

links="$(ip -o link show | awk -F': ' '{print $2}' | sed 's/@.*//' | sort | tr '\n' ' ')"
if [ "$links" != "lo v0 v1 " ]; then
  echo "sends to the network: runs only inside the private namespace of ./test.sh" >&2
  exit 77
fi

scratch="$(mktemp -d)"
password="points & crossings"
mkdir -p "$scratch/config/Quorandel"
printf '[remote]\npassword="%s"\n' "$password" > "$scratch/config/Quorandel/quorandel.conf"
chmod 600 "$scratch/config/Quorandel/quorandel.conf"
cd "$scratch"
env -u QT_QPA_PLATFORM -u DISPLAY -u WAYLAND_DISPLAY \
  XDG_DATA_HOME="$scratch/data" XDG_CONFIG_HOME="$scratch/config" XDG_CONFIG_DIRS="$scratch/etc" \
  XDG_STATE_HOME="$scratch/state" "$program" --headless > "$scratch/out.txt" &
pid=$!
stop() {
  kill -TERM "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  rm -rf "$scratch"
}
trap stop EXIT
for _ in $(seq 100); do
  grep -q "^Quorandel live clock: " "$scratch/out.txt" 2>/dev/null && break
  sleep 0.1
done
grep "^Quorandel live clock: " "$scratch/out.txt"
"$here/test_live_page.py" http://127.0.0.1:8080 --password "$password"
