#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The live page's browser test against the built program, started headless in a scratch folder with a
# control password of its own:   against_program.sh PROGRAM [SCREENSHOT-FOLDER]
# It broadcasts, so it runs only inside the private network namespace of ./test.sh (exit 77, counted
# as skipped, anywhere else).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
program="$(realpath "$1")" shots="$(realpath -m "${2:-.}")"
# shellcheck source=SCRIPTDIR/../../scripts/network-namespace.sh
source "$here/../../scripts/network-namespace.sh"
[ "$(network_namespace)" = inside ] || { echo "broadcasts: runs only in the private network namespace" >&2; exit 77; }
scratch="$(mktemp -d)"
cd "$scratch"
password="points & crossings" layout="Bahnhof Süd"
( umask 077; mkdir -p config/Quorandel
  printf '[remote]\npassword="%s"\n[fastclock]\ntext=%s\n[session]\ndate=1957-06-13\n' "$password" "$layout" \
    >config/Quorandel/quorandel.conf )
env -u QT_QPA_PLATFORM -u DISPLAY -u WAYLAND_DISPLAY XDG_DATA_HOME="$scratch/data" XDG_CONFIG_HOME="$scratch/config" \
  XDG_CONFIG_DIRS="$scratch/etc" XDG_STATE_HOME="$scratch/state" "$program" --headless >"$scratch/out.txt" &
pid=$!
trap 'kill -TERM "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; rm -rf "$scratch"' EXIT
for _ in $(seq 100); do
  grep -qs "^Quorandel live clock: " out.txt && break
  sleep 0.1
done
grep "^Quorandel live clock: " out.txt
"$here/test_live_page.py" http://127.0.0.1:8080 --password "$password" ${2:+--screenshots "$shots"} \
  --join "$(sed -n 's/^Quorandel live clock: //p' out.txt)" "$layout"
