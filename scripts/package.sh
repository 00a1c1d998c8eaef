#!/usr/bin/env bash
# Builds the Debian package kestrel_<version>_amd64.deb into the checkout (or into the folder
# given), from the program in build/ (or $KESTREL_BUILD_DIR); its symbols are stripped.
# Install it with: apt install ./kestrel_<version>_amd64.deb
#   package.sh [FOLDER]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=$(cd "${1:-$root}" && pwd)
build=${KESTREL_BUILD_DIR:-$root/build}
"$root/scripts/setup.sh"
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=${KESTREL_BUILD_TYPE:-RelWithDebInfo} \
  "${launcher[@]}" >/dev/null
cmake --build "$build" --target kestrel
staging=$(mktemp -d /tmp/kestrel-cpack.XXXXXX)
trap 'rm -rf "$staging"' EXIT
(cd "$build" && cpack -G DEB -B "$staging" >"$staging/cpack.log") \
  || { cat "$staging/cpack.log" >&2; exit 1; }
for deb in "$staging"/kestrel_*_amd64.deb; do
  cp "$deb" "$out/"
  echo "package: $out/$(basename "$deb")"
done
