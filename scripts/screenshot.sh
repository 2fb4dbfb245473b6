#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Developer tool: starts the built program on a virtual X display with a small
# window manager (so the frame shows), presses "Start Clock" so that the time
# display shows digits, and saves a picture of the whole screen.
#
#   scripts/screenshot.sh [OUT.png] [SECONDS]
#
# Needs xvfb, xauth, imagemagick and xdotool; twm if the frame should show. The
# program runs inside a private network namespace, and in a scratch folder so
# that its settings file is a fresh one.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
out="$(realpath -m "${1:-$top/build/screenshot.png}")"
wait_seconds="${2:-3}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
# twm places windows by itself and does not grab the server, which would
# stall the capture.
printf 'RandomPlacement\nUsePPosition "on"\nNoGrabServer\n' >"$work/twmrc"

# shellcheck disable=SC2016  # expanded by the inner shell
inner='
  cd "$1"
  if command -v twm >/dev/null; then twm -f twmrc >/dev/null 2>&1 & sleep 1; fi
  "$2" & pid=$!
  win=$(xdotool search --sync --name "^Quorandel [0-9.]*$" | head -n1)
  sleep 1
  # "Start Clock": its middle, below the menu bar.
  xdotool mousemove --window "$win" 487 165 click 1
  sleep "$4"
  import -window root "$3"
  kill "$pid"
'
"$top/scripts/private-net" xvfb-run -a -s "-screen 0 1600x1200x24" \
  bash -c "$inner" screenshot "$work" "$top/build/app/quorandel" "$out" "$wait_seconds"
echo "screenshot: $out"
