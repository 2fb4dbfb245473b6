#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what is missing, builds, and makes the Debian package; prints its path.
top="$(cd "$(dirname "$0")" && pwd)"
source "$top/scripts/common.sh"
install_missing_packages
build_project "$top"
cd "$top/build"
log="$(cpack --config CPackConfig.cmake 2>&1)" || { echo "$log" >&2; exit 1; }
sed -n 's/^CPack: - package: \(.*\) generated\.$/\1/p' <<<"$log"
