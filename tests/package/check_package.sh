#!/usr/bin/env bash
# Builds the Debian package of BUILD (cpack) into a scratch folder and checks it: dpkg-deb
# reads it, it holds the program, its menu entry and its icon and nothing else, the menu entry
# validates and names the program and icon it ships, it depends on the Qt and libpq packages,
# and every library the unpacked program needs resolves on this machine.
#   check_package.sh BUILD
set -euo pipefail
build=${1:?build folder}
scratch=$(mktemp -d /tmp/kestrel-package.XXXXXX)
trap 'rm -rf "$scratch"' EXIT
bad=0
fail() { echo "package: $*" >&2; bad=1; }

if ! (cd "$build" && cpack -G DEB -B "$scratch/out") >"$scratch/cpack.log" 2>&1; then
  cat "$scratch/cpack.log" >&2; echo "package: cpack failed" >&2; exit 1
fi
shopt -s nullglob
debs=("$scratch"/out/kestrel_*_amd64.deb)
[ ${#debs[@]} -eq 1 ] || { ls "$scratch/out" >&2; echo "package: no single kestrel_<version>_amd64.deb" >&2; exit 1; }
deb=${debs[0]}
echo "package: $(basename "$deb") ($(stat -c %s "$deb") bytes)"

info=$(dpkg-deb --info "$deb") || { echo "package: dpkg-deb --info refuses it" >&2; exit 1; }
grep -qx ' Package: kestrel' <<<"$info" || fail "package name is not kestrel"
grep -qx ' Architecture: amd64' <<<"$info" || fail "architecture is not amd64"
depends=$(grep '^ Depends:' <<<"$info" || true)
echo "package:$depends"
for lib in libqt6widgets6 libqt6core6 libpq5 qt6-qpa-plugins; do
  grep -q "\b$lib\b" <<<"$depends" || fail "Depends lacks $lib"
done
dpkg-deb --contents "$deb" >/dev/null || fail "dpkg-deb --contents refuses it"

root="$scratch/root"
dpkg-deb -x "$deb" "$root"
expected=$'./usr/bin/kestrel\n./usr/share/applications/kestrel.desktop\n./usr/share/icons/hicolor/64x64/apps/kestrel.png'
files=$(cd "$root" && find . -type f | sort)
[ "$files" = "$expected" ] || fail "files are"$'\n'"$files"$'\n'"expected"$'\n'"$expected"
[ -x "$root/usr/bin/kestrel" ] || fail "usr/bin/kestrel is not executable"

desktop="$root/usr/share/applications/kestrel.desktop"
if [ -f "$desktop" ]; then
  desktop-file-validate "$desktop" || fail "desktop-file-validate refuses kestrel.desktop"
  grep -qx 'Exec=kestrel' "$desktop" || fail "the menu entry does not start kestrel"
  grep -qx 'Icon=kestrel' "$desktop" || fail "the menu entry does not name the kestrel icon"
fi

if [ -f "$root/usr/bin/kestrel" ]; then
  libs=$(ldd "$root/usr/bin/kestrel") || fail "ldd cannot read usr/bin/kestrel"
  if grep -q 'not found' <<<"$libs"; then fail "libraries not found:"$'\n'"$(grep 'not found' <<<"$libs")"; fi
  grep -q 'libQt6Widgets' <<<"$libs" && grep -q 'libpq' <<<"$libs" || fail "the program does not link Qt 6 Widgets and libpq"
fi
[ "$bad" -eq 0 ] && echo "package: ok"
exit "$bad"
