#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what is missing, builds, and starts the clock.
top="$(cd "$(dirname "$0")" && pwd)"
source "$top/scripts/common.sh"
install_missing_packages
build_project "$top" quorandel  # the tests and benchmarks are for ./test.sh
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "run.sh: no display found; starting headless (the live clock page shows the clock)." >&2
  exec "$top/build/app/quorandel" --headless "$@"
fi
exec "$top/build/app/quorandel" "$@"
