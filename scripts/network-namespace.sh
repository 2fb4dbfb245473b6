# SPDX-License-Identifier: GPL-3.0-or-later
# shellcheck shell=bash
# Sourced by scripts/private-net, bench/bench-common.sh and the browser test:
# which network namespace this is, told by the interfaces it shows and by
# nothing else, so that no setting can make the machine's own network pass
# for the private one.
#   inside   exactly lo, v0 and v1: the namespace scripts/private-net sets up,
#            where a broadcast cannot leave the machine
#   fresh    lo alone: a namespace just made, to be set up
#   outside  anything else, such as the machine's own network (also when the
#            interfaces cannot be read)
network_namespace() {
  local links
  links="$(ip -o link show 2>/dev/null | awk -F': ' '{sub(/@.*/, "", $2); print $2}' | sort | tr '\n' ' ')" ||
    links=""
  case "$links" in
    "lo v0 v1 ") echo inside ;;
    "lo ") echo fresh ;;
    *) echo outside ;;
  esac
}
