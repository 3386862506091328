#!/usr/bin/env bash
# Installs the build into a fresh prefix and checks what lands there: the two programs, the
# help page where the program looks for it, the desktop entry (desktop-file-validate), the
# icons, the udev rule and the manual page.
# Usage: check-install.sh BUILD_DIR SCRATCH_DIR
set -euo pipefail
build=$1
prefix=$2/prefix
rm -rf "$prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null

status=0
fail() {
  echo "FAIL: $*" >&2
  status=1
}

for f in \
  bin/qx5200 bin/qx5200-wave \
  "share/qx5200/QX5200 Waveform Generator.html" \
  share/applications/qx5200.desktop \
  share/icons/hicolor/scalable/apps/qx5200.svg \
  share/icons/hicolor/48x48/apps/qx5200.png \
  share/icons/hicolor/128x128/apps/qx5200.png \
  share/icons/hicolor/256x256/apps/qx5200.png \
  lib/udev/rules.d/70-qx5200.rules \
  share/man/man1/qx5200.1.gz \
  share/man/man1/qx5200-wave.1.gz \
  share/man/man1/qx5200-ctl.1.gz share/doc/qx5200/copyright share/doc/qx5200/changelog.gz; do
  [ -f "$prefix/$f" ] || fail "$f not installed"
done
for f in bin/qx5200 bin/qx5200-wave bin/qx5200-ctl; do
  [ -x "$prefix/$f" ] || fail "$f not executable"
done

# Help > Contents looks beside the program, then in ../share/qx5200 from it.
help="$prefix/bin/../share/qx5200/QX5200 Waveform Generator.html"
grep -q 'id="context-11"' "$help" || fail "help page lacks its contents anchor"

desktop-file-validate "$prefix/share/applications/qx5200.desktop" || fail "desktop entry does not validate"
icon=$(sed -n 's/^Icon=//p' "$prefix/share/applications/qx5200.desktop")
exec_name=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$prefix/share/applications/qx5200.desktop")
[ -f "$prefix/share/icons/hicolor/scalable/apps/$icon.svg" ] || fail "icon '$icon' is not in the theme"
[ -x "$prefix/bin/$exec_name" ] || fail "Exec '$exec_name' is not an installed program"

for size in 48 128 256; do
  # Width and height: big-endian words at bytes 16 and 20 of a PNG (its IHDR chunk).
  read -r w h < <(od -An -tu1 -j16 -N8 "$prefix/share/icons/hicolor/${size}x${size}/apps/qx5200.png" |
    awk '{ print $1 * 16777216 + $2 * 65536 + $3 * 256 + $4, $5 * 16777216 + $6 * 65536 + $7 * 256 + $8 }')
  [ "${w:-}" = "$size" ] && [ "${h:-}" = "$size" ] || fail "${size}x${size} icon is ${w:-?}x${h:-?}"
done

grep -q 'ATTRS{product}=="QUOR LABS QX5200"' "$prefix/lib/udev/rules.d/70-qx5200.rules" || fail "udev rule does not match the product string"
grep -q 'TAG+="uaccess"' "$prefix/lib/udev/rules.d/70-qx5200.rules" || fail "udev rule grants no uaccess"

# The installed programs run from there and answer in the usual form.
version=$("$prefix/bin/qx5200-wave" --version) || fail "qx5200-wave --version failed"
[[ $version =~ ^qx5200-wave\ [0-9]+\.[0-9]+\.[0-9]+$ ]] || fail "qx5200-wave --version says '$version'"
QT_QPA_PLATFORM=offscreen "$prefix/bin/qx5200" --version | grep -q '^qx5200 [0-9]' ||
  fail "qx5200 --version"

# The manual pages are well-formed and name every option --help lists.
for program in qx5200-wave qx5200-ctl; do
  man_text=$(gzip -dc "$prefix/share/man/man1/$program.1.gz")
  if command -v groff >/dev/null; then
    warnings=$(printf '%s\n' "$man_text" | groff -man -Tutf8 -ww -z 2>&1) || true
    [ -z "$warnings" ] || fail "$program man page: $warnings"
  fi
  for option in $("$prefix/bin/$program" --help | grep -o -- '--[a-z][a-z-]*' | sort -u); do
    grep -q -- "\\\\-\\\\-${option#--}" <<<"$man_text" || fail "$program man page does not describe $option"
  done
done

[ $status -eq 0 ] && echo "install into $prefix: ok"
exit $status
