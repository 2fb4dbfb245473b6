#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the Debian package from the targets already built and checks it the
# way Debian's tools and a user would see it.
#   package_test.sh CPACK BUILD_DIR VERSION APP_ID ICON_RENDER
set -uo pipefail
cpack=$1 build=$2 version=$3 id=$4 icon_render=$5
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }

deb="$scratch/quorandel_${version}_$(dpkg --print-architecture).deb"
if ! "$cpack" --config "$build/CPackConfig.cmake" -B "$scratch" >"$scratch/cpack.log" 2>&1 || [ ! -f "$deb" ]; then
  cat "$scratch/cpack.log"
  echo "FAIL: cpack made no $(basename "$deb")"
  exit 1
fi
pass "built $(basename "$deb")"

icons=(scalable/apps/$id.svg)
for size in 16 32 48 64 128 256; do icons+=("${size}x$size/apps/$id.png"); done
expected=(usr/bin/quorandel usr/share/applications/$id.desktop usr/share/metainfo/$id.metainfo.xml
          usr/share/man/man1/quorandel.1.gz usr/lib/systemd/user/quorandel.service
          usr/share/doc/quorandel/copyright usr/share/doc/quorandel/changelog.gz
          "${icons[@]/#/usr/share/icons/hicolor/}")

# Every file above and nothing else: no test or benchmark may slip in.
dpkg-deb --contents "$deb" | awk '/^-/ { sub(/^\.\//, "", $6); print $6 }' | sort >"$scratch/files"
printf '%s\n' "${expected[@]}" | sort >"$scratch/expected"
if diff -u "$scratch/expected" "$scratch/files"; then pass "contents"; else fail "contents (- missing, + unexpected)"; fi

control_version=$(dpkg-deb -f "$deb" Version)
depends=$(dpkg-deb -f "$deb" Depends)
[ "$control_version" = "$version" ] && pass "version $version" || fail "control version '$control_version'"
case "$depends" in
  *libqt6widgets6*libsqlite3*) pass "dependencies from the shared libraries" ;;
  *) fail "Depends lacks the shared libraries: $depends" ;;
esac

lintian --tag-display-limit 0 -I "$deb" >"$scratch/lintian" 2>"$scratch/lintian.err"
grep -v '^running with root privileges' "$scratch/lintian.err"
sed 's/^/lintian: /' "$scratch/lintian"
if grep -q '^E:' "$scratch/lintian"; then fail "lintian errors"; else pass "lintian has no errors"; fi
# Lintian reads the licence only from the copyright file, so any of its
# licence tags, even a warning, means that file is wrong or missing.
if grep -E '^[EW]: [^ ]+: [^ ]*(copyright|licen[cs]e)' "$scratch/lintian"; then
  fail "lintian licence or copyright tags"
else
  pass "lintian has no licence or copyright tags"
fi

root="$scratch/root"
dpkg -x "$deb" "$root" || fail "dpkg -x"

out=$(desktop-file-validate "$root/usr/share/applications/$id.desktop" 2>&1)
[ $? = 0 ] && [ -z "$out" ] && pass "desktop-file-validate" || fail "desktop-file-validate: $out"

if appstreamcli validate --no-net "$root/usr/share/metainfo/$id.metainfo.xml" >"$scratch/appstream" 2>&1; then
  pass "appstreamcli validate"
else
  cat "$scratch/appstream"
  fail "appstreamcli validate"
fi

# The unit names /usr/bin/quorandel and man:quorandel(1), which the checks look
# for on this machine: a private mount namespace lays the package's over them.
verify_unit() {
  mount -t overlay overlay -o "lowerdir=$root/usr/bin:/usr/bin" /usr/bin &&
    mount -t overlay overlay -o "lowerdir=$root/usr/share/man/man1:/usr/share/man/man1" /usr/share/man/man1 &&
    XDG_RUNTIME_DIR="$scratch/runtime" systemd-analyze --user verify "$root/usr/lib/systemd/user/quorandel.service"
}
mkdir -m 700 "$scratch/runtime"
export -f verify_unit
out=$(root="$root" scratch="$scratch" unshare -m bash -c verify_unit 2>&1)
[ $? = 0 ] && [ -z "$out" ] && pass "systemd-analyze verify" || fail "systemd-analyze verify: $out"

page=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$root/usr/share/man/man1/quorandel.1.gz" 2>"$scratch/man.err")
if [ -s "$scratch/man.err" ] || [[ "$page" != *"EXIT STATUS"* ]] || [[ "$page" != *"--headless"* ]]; then
  cat "$scratch/man.err"
  fail "man -l"
else
  pass "man -l renders $(wc -l <<<"$page") lines"
fi

for size in 16 32 48 64 128 256; do
  file -b "$root/usr/share/icons/hicolor/${size}x$size/apps/$id.png" | grep -q "^PNG image data, $size x $size," ||
    fail "icon ${size}x$size is no PNG of that size"
done
rsvg-convert -w 256 -h 256 "$root/usr/share/icons/hicolor/scalable/apps/$id.svg" -o "$scratch/svg.png" &&
  "$icon_render" --compare "$scratch/svg.png" && pass "the SVG icon shows the window icon's face" ||
  fail "the SVG icon and the window icon differ"

copyright="$root/usr/share/doc/quorandel/copyright"
if head -n 1 "$copyright" | grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' &&
   grep -qx 'License: GPL-3.0-or-later' "$copyright" &&
   ! grep -qi '^License: *unspecified' "$copyright"; then
  pass "copyright file in DEP-5 form, GPL-3.0-or-later"
else
  fail "copyright file is not DEP-5 naming GPL-3.0-or-later"
fi
grep -q '<project_license>GPL-3.0-or-later</project_license>' "$root/usr/share/metainfo/$id.metainfo.xml" &&
  pass "metainfo names GPL-3.0-or-later" || fail "metainfo lacks project_license GPL-3.0-or-later"

answer=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$root/usr/bin/quorandel" --version 2>&1)
[ "$answer" = "quorandel $version" ] && pass "installed program: $answer" || fail "installed --version: '$answer'"

echo "$failures check(s) failed"
[ "$failures" = 0 ]
