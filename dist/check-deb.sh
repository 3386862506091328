#!/usr/bin/env bash
# Builds the Debian package with `cpack -G DEB` and checks it with dpkg-deb: the files, the
# dependencies that dpkg-shlibdeps found, and the maintainer scripts that apply the udev rule.
# Usage: check-deb.sh BUILD_DIR SCRATCH_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
out=$2/deb
rm -rf "$out"
mkdir -p "$out"
(cd "$build" && cpack -G DEB -B "$out" >"$out/cpack.log") || {
  cat "$out/cpack.log" >&2
  exit 1
}
deb=$(ls "$out"/qx5200_*.deb)

status=0
fail() {
  echo "FAIL: $*" >&2
  status=1
}

listing=$(dpkg-deb -c "$deb")
for f in \
  ./usr/bin/qx5200 ./usr/bin/qx5200-wave ./usr/bin/qx5200-ctl \
  "./usr/share/qx5200/QX5200 Waveform Generator.html" \
  ./usr/share/applications/qx5200.desktop \
  ./usr/share/icons/hicolor/scalable/apps/qx5200.svg \
  ./usr/share/icons/hicolor/48x48/apps/qx5200.png \
  ./usr/share/icons/hicolor/128x128/apps/qx5200.png \
  ./usr/share/icons/hicolor/256x256/apps/qx5200.png \
  ./usr/lib/udev/rules.d/70-qx5200.rules \
  ./usr/share/man/man1/qx5200.1.gz \
  ./usr/share/man/man1/qx5200-wave.1.gz \
  ./usr/share/man/man1/qx5200-ctl.1.gz \
  ./usr/share/doc/qx5200/copyright ./usr/share/doc/qx5200/changelog.gz; do
  grep -qF -- " $f" <<<"$listing" || fail "$f missing from the package"
done

# The libraries the programs link, as dpkg-shlibdeps names their packages.
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libqt6widgets6 libqt6gui6 libqt6core6 libhidapi-hidraw0 libudev1 libc6; do
  grep -q "\\b$lib\\b" <<<"$depends" || fail "Depends lacks $lib: $depends"
done

control=$out/control
dpkg-deb -e "$deb" "$control"
grep -q 'udevadm control --reload-rules' "$control/postinst" || fail "postinst does not reload the rules"
grep -q 'udevadm trigger --action=add --subsystem-match=hidraw' "$control/postinst" ||
  fail "postinst does not apply the rule to present devices"
[ -x "$control/postinst" ] || fail "postinst is not executable"
sh -n "$control/postinst" && sh -n "$control/postrm" || fail "maintainer scripts do not parse"
# A udevadm that records its calls and fails as it does where no udev daemon runs (containers,
# chroots): the scripts must still succeed, or dpkg leaves the package half-configured.
mkdir -p "$out/fake-bin"
printf '#!/bin/sh\necho "$*" >>"%s"\nexit 1\n' "$out/udevadm.log" >"$out/fake-bin/udevadm"
chmod +x "$out/fake-bin/udevadm"
PATH="$out/fake-bin:$PATH" sh "$control/postinst" configure || fail "postinst fails without a udev daemon"
PATH="$out/fake-bin:$PATH" sh "$control/postrm" remove || fail "postrm fails without a udev daemon"
expected=$'control --reload-rules\ntrigger --action=add --subsystem-match=hidraw\ncontrol --reload-rules'
[ "$(cat "$out/udevadm.log" 2>/dev/null)" = "$expected" ] ||
  fail "udevadm was called as: $(cat "$out/udevadm.log" 2>/dev/null)"

# Stripped programs: the package is for users, not debuggers.
mkdir -p "$out/root"
dpkg-deb -x "$deb" "$out/root"
for f in qx5200 qx5200-wave qx5200-ctl; do
  if readelf -S "$out/root/usr/bin/$f" | grep -q '\.debug_info'; then
    fail "usr/bin/$f carries debug information"
  fi
done

# The changelog's newest entry names the version the package carries.
version=$(dpkg-deb -f "$deb" Version)
logged=$(gzip -dc "$out/root/usr/share/doc/qx5200/changelog.gz" | sed -n '1s/^qx5200 (\([^)]*\)).*/\1/p')
[ "$logged" = "$version" ] || fail "changelog's newest entry is '$logged', the package is $version"

# lintian is large (a Perl stack); it runs where it is installed and is skipped elsewhere.
if command -v lintian >/dev/null; then
  lintian --tag-display-limit 0 "$deb" >"$out/lintian.log" 2>&1 || true
  ! grep -q '^E:' "$out/lintian.log" || fail "lintian reports errors: $(grep '^E:' "$out/lintian.log")"
fi

if [ $status -eq 0 ]; then
  echo "$(basename "$deb"): ok"
  echo "Depends: $depends"
fi
exit $status
