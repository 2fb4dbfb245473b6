#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Agreement of every channel with the master: runs the program in-process at
# 8:1 with a scripted run of starts, stops, speed changes and time sets, and
# prints per channel (time datagrams, multicast, events stream, state.json,
# and the throttles' JMRI, DCC-EX station and Z21, played by peers of its own)
# the worst difference from the master's model time, inside a private network
# namespace.     bench/agreement.sh [seconds]      (default 300)
set -euo pipefail
# shellcheck source=SCRIPTDIR/bench-common.sh
source "$(dirname "$0")/bench-common.sh"
seconds="${1:-300}"
enter_private_net "" "agreement" "$@"
enter_scratch
password="agreement-$RANDOM$RANDOM"
write_settings "$password" $'[fastclock]\nenabled=true\n[jmri]\nserver=127.0.0.1\n[dccex]\nstation=127.0.0.1\n[z21]\nstation=127.0.0.1\n'
QT_QPA_PLATFORM=offscreen "$top/build/bench/agreement" "$seconds" "$password" 2>"$scratch/err.txt" \
  || { cat "$scratch/err.txt" >&2; exit 1; }
grep -v "^qt\.\|accepted: " "$scratch/err.txt" | sort | uniq -c | sort -rn | head -5 || true
