#!/usr/bin/env bash
# Saves the README's pictures of the windows into docs/: starts a throwaway server with the
# demo database (scripts/demo.sql), saves the host "demo" in a scratch start folder and opens
# each window offscreen on it (tools/screenshots.cpp).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
build=${KESTREL_BUILD_DIR:-$root/build}
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=${KESTREL_BUILD_TYPE:-RelWithDebInfo} \
  "${launcher[@]}" >/dev/null
cmake --build "$build" --target kestrel_screenshots kestrel_seed_demo

scratch=$(mktemp -d /tmp/kestrel-shots.XXXXXX)
chmod 755 "$scratch"
cleanup() { "$root/scripts/pgcluster.sh" stop "$scratch/cluster"; rm -rf "$scratch"; }
trap cleanup EXIT
port=$("$root/scripts/pgcluster.sh" start "$scratch/cluster")
psql_demo() { psql -X -q -h 127.0.0.1 -p "$port" -U postgres "$@"; }
psql_demo -d postgres -c "CREATE DATABASE demo"
psql_demo -d demo -v ON_ERROR_STOP=1 -f "$root/scripts/demo.sql" >/dev/null

home="$scratch/home"
mkdir -p "$home" "$root/docs"
"$build/kestrel_seed_demo" "$home" 127.0.0.1 "$port"
QT_QPA_PLATFORM=offscreen "$build/kestrel_screenshots" "$home" 127.0.0.1 "$port" "$root/docs"
du -ch "$root"/docs/*.png | tail -n 1
