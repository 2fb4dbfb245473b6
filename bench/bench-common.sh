# SPDX-License-Identifier: GPL-3.0-or-later
# shellcheck shell=bash
# Sourced by the benchmark scripts beside it: what each of them does before and
# around its own measurement. Kept out of scripts/common.sh, which run.sh,
# test.sh and package.sh source, because none of this is theirs.
top="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# shellcheck source=SCRIPTDIR/../scripts/network-namespace.sh
source "$top/scripts/network-namespace.sh"

# Outside the private network namespace: installs the packages, builds the
# targets and runs the calling script again inside one, with the same
# arguments, or ends the script when no namespace can be made; so a benchmark
# never sends anything where a broadcast could reach a real network. With no
# targets nothing is built and the machine line is not printed (the figures
# are then another build's). Inside (told by its interfaces alone): returns at
# once.
#   enter_private_net "PACKAGE..." "TARGET..." "$@"
enter_private_net() {
  [ "$(network_namespace)" != inside ] || return 0
  local packages targets
  read -ra packages <<<"$1"
  read -ra targets <<<"$2"
  shift 2
  source "$top/scripts/common.sh"
  [ ${#packages[@]} -eq 0 ] || install_missing_packages "${packages[@]}"
  [ ${#targets[@]} -eq 0 ] || build_bench_targets "$top" "${targets[@]}"
  exec "$top/scripts/private-net" "$0" "$@"
}

# A scratch folder as the working directory and as every folder the program
# reads or writes, so that a run neither sees the developer's own settings nor
# leaves anything behind. At exit the file "stop" appears in it, for the
# script's own loops that watch for it, and the jobs still running are stopped
# before it goes. With no job left kill fails, and under set -e that would end
# the trap with the folder still there.
enter_scratch() {
  scratch="$(mktemp -d)"
  trap 'touch "$scratch/stop"; kill $(jobs -p) 2>/dev/null || true; wait; rm -rf "$scratch"' EXIT
  cd "$scratch"
  export XDG_DATA_HOME="$scratch/data" XDG_CONFIG_HOME="$scratch/config"
  export XDG_CONFIG_DIRS="$scratch/etc" XDG_STATE_HOME="$scratch/state"
}

# The program's settings file with the remote control's password and any
# further lines, readable by this user alone as a password should be.
write_settings() {  # password [more lines]
  mkdir -p "$XDG_CONFIG_HOME/Quorandel"
  ( umask 077; printf '[remote]\npassword=%s\n%s' "$1" "${2:-}" >"$XDG_CONFIG_HOME/Quorandel/quorandel.conf" )
}

# bench/clock_harness of the given build folder in the background, without a
# screen and without its messages; its pid in $harness.
start_harness() {  # build-folder seconds [speed [alone]]
  QT_QPA_PLATFORM=offscreen "$1/bench/clock_harness" "${@:2}" 2>/dev/null &
  # shellcheck disable=SC2034  # the caller's
  harness=$!
}

# wrk as every web bench drives it: two threads, the run's $connections for
# the run's $seconds, with the latency spread.
run_wrk() {  # [wrk options] url
  # shellcheck disable=SC2154  # the caller's
  wrk -t2 -c"$connections" -d"${seconds}s" --latency "$@"
}

# wrk's report -> "requests/s p50 p99 p99-in-ms errors": the latencies as wrk
# writes them and the last once more in ms, to be compared; the errors "none"
# or wrk's own lines about them, joined by "; ". A figure wrk left out is "-".
wrk_figures() {
  awk 'function ms(v) { return v ~ /us$/ ? v / 1000 : v ~ /[0-9]s$/ && v !~ /ms$/ ? v * 1000 : v + 0 }
       function shown(v) { return v == "" ? "-" : v }
       /Requests\/sec/ {rps = $2}
       /^ +50%/ {p50 = $2}
       /^ +99%/ {p99 = $2}
       /Socket errors|Non-2xx/ {$1 = $1; errors = (errors == "" ? "" : errors "; ") $0}
       END {printf "%s %s %s %.2f %s\n", shown(rps), shown(p50), shown(p99), ms(p99),
            (errors == "" ? "none" : errors)}'
}
