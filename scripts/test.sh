#!/usr/bin/env bash
# Sets everything up, builds, starts a throwaway PostgreSQL and runs every test against it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh"
build=${KESTREL_BUILD_DIR:-$root/build}

cluster=$(mktemp -d /tmp/kestrel-test.XXXXXX)
chmod 755 "$cluster"
cleanup() { "$root/scripts/pgcluster.sh" stop "$cluster"; rm -rf "$cluster"; }
trap cleanup EXIT
port=$("$root/scripts/pgcluster.sh" start "$cluster")
export PGHOST=127.0.0.1 PGPORT=$port PGUSER=postgres PGDATABASE=postgres
export QT_QPA_PLATFORM=offscreen
echo "test: server on 127.0.0.1:$port"
cd "$build"
ctest --output-on-failure -j1 "$@"
