#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test. The tests run inside a
# private network namespace made here, so that broadcasts to 255.255.255.255 and
# connections to the display device's address never reach a real network.
top="$(cd "$(dirname "$0")" && pwd)"
source "$top/scripts/common.sh"

# The display device's fixed address (publish/DisplayPush.h keeps the same value).
DISPLAY_DEVICE_ADDRESS=192.168.1.99

run_tests() {
  cd "$top/build"
  ctest --output-on-failure -j "$(nproc)" "$@"
}

if [ "${QUORANDEL_INSIDE_NETNS:-}" = 1 ]; then
  ip link set lo up
  ip link add v0 type veth peer name v1
  ip link set v0 up
  ip link set v1 up
  ip addr add 10.77.0.1/24 dev v0
  ip addr add 10.77.0.2/24 dev v1
  ip addr add "$DISPLAY_DEVICE_ADDRESS/24" dev v1
  ip route add default dev v0
  run_tests "$@"
  exit $?
fi

install_missing_packages
build_project "$top"

unshare_opts=(-n)
[ "$(id -u)" = 0 ] || unshare_opts=(-r -n)
if unshare "${unshare_opts[@]}" true 2>/dev/null; then
  exec env QUORANDEL_INSIDE_NETNS=1 unshare "${unshare_opts[@]}" -- "$0" "$@"
fi
echo "test.sh: no private network namespace can be made here; tests that send to the network will be skipped." >&2
run_tests "$@"
