#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds and runs the image export benchmark on the program's own main window,
# with the clock running, inside a private network namespace: the grab and the
# worker's job, the longest time one picture keeps the event loop from serving
# anything else (beside the same with the whole job on the loop), and the size
# of the picture.
#   bench/export.sh [ticks]
set -euo pipefail
# shellcheck source=SCRIPTDIR/bench-common.sh
source "$(dirname "$0")/bench-common.sh"
enter_private_net "" "export_bench" "$@"
enter_scratch
QT_QPA_PLATFORM=offscreen "$top/build/bench/export_bench" "$@" 2>/dev/null
