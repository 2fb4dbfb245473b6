#!/usr/bin/env bash
# Installs what is missing, builds, and starts the clock.
top="$(cd "$(dirname "$0")" && pwd)"
source "$top/scripts/common.sh"
install_missing_packages
build_project "$top"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "run.sh: no display found; starting on Qt's offscreen platform (nothing will be shown)." >&2
  export QT_QPA_PLATFORM=offscreen
fi
exec "$top/build/app/quorandel" "$@"
