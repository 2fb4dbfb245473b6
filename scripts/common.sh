# SPDX-License-Identifier: GPL-3.0-or-later
# Shared by run.sh, test.sh and package.sh: install what is missing, then build into build/.
set -euo pipefail

QUORANDEL_PACKAGES=(cmake g++ make pkg-config qt6-base-dev qt6-websockets-dev libgl-dev libfreeimage-dev
                    libsqlite3-dev libqrencode-dev fonts-liberation iproute2 util-linux
                    dpkg-dev file lintian desktop-file-utils appstream systemd man-db librsvg2-bin
                    chromium chromium-driver python3-selenium firefox-esr zbar-tools)

install_missing_packages() {
  local missing=()
  local p
  for p in "${QUORANDEL_PACKAGES[@]}" "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}" >&2
  local sudo=()
  [ "$(id -u)" = 0 ] || sudo=(sudo)
  "${sudo[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq "${missing[@]}"
}

# axe-core for the live page's accessibility check, at the version the lock
# file names, with whatever npm the machine has (Debian's npm or the one that
# comes with Node.js); without it the browser test fails and says why.
install_browser_test_packages() {
  local folder="$1/tests/browser"
  [ -f "$folder/node_modules/axe-core/axe.min.js" ] && [ "$folder/node_modules" -nt "$folder/package-lock.json" ] &&
    return 0
  command -v npm >/dev/null && (cd "$folder" && npm ci --no-audit --no-fund --loglevel=error) ||
    echo "npm ci in $folder failed: the live page's browser test needs axe-core" >&2
}

# Builds everything, or only the targets named after the top folder.
build_project() {
  local top="$1"
  shift
  cmake -S "$top" -B "$top/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  if [ "$#" -gt 0 ]; then
    cmake --build "$top/build" -j "$(nproc)" --target "$@"
  else
    cmake --build "$top/build" -j "$(nproc)"
  fi
}

# Benchmarks: builds the given targets and says which machine the figures are from.
build_bench_targets() {
  local top="$1"
  shift
  cmake -S "$top" -B "$top/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$top/build" --target "$@" -j 2 >/dev/null
  echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')"
}
