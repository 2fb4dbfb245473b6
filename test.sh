#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what is missing, builds, and runs every test. The tests run inside a
# private network namespace made here, so that broadcasts to 255.255.255.255 and
# connections to the display device's address never reach a real network.
top="$(cd "$(dirname "$0")" && pwd)"
source "$top/scripts/common.sh"
install_missing_packages
install_browser_test_packages "$top"
build_project "$top"
cd "$top/build"
status=0
"$top/scripts/private-net" ctest --output-on-failure -j "$(nproc)" "$@" || status=$?
if [ "$status" = 97 ]; then
  echo "test.sh: no private network namespace can be made here; tests that send to the network are skipped." >&2
  ctest --output-on-failure -j "$(nproc)" "$@"
  exit $?
fi
exit "$status"
