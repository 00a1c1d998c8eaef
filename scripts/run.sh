#!/usr/bin/env bash
# Sets everything up, starts a local demo server with a small demo database, saves a host for
# it in the demo start folder, and starts Kestrel there.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh"
build=${KESTREL_BUILD_DIR:-$root/build}

# The server runs as the postgres OS user when we are root: it must be able to reach its data
# folder. Keep it in the checkout when every parent folder lets it through, else per user.
cluster="$root/.demo/cluster"
if [ "$(id -u)" -eq 0 ]; then
  mkdir -p "$root/.demo"
  if ! runuser -u postgres -- test -x "$root/.demo"; then
    cluster="${XDG_DATA_HOME:-/var/tmp}/kestrel-demo-cluster"
  fi
fi
mkdir -p "$cluster"; chmod 755 "$cluster"
"$root/scripts/pgcluster.sh" stop "$cluster"
port=$("$root/scripts/pgcluster.sh" start "$cluster")
trap '"$root/scripts/pgcluster.sh" stop "$cluster"' EXIT
echo "run: demo server on 127.0.0.1:$port (data in $cluster)"

psql_demo() { psql -X -q -h 127.0.0.1 -p "$port" -U postgres "$@"; }
if ! psql_demo -d postgres -Atc "select 1 from pg_database where datname = 'demo'" | grep -q 1; then
  psql_demo -d postgres -c "CREATE DATABASE demo"
  psql_demo -d demo -v ON_ERROR_STOP=1 -f "$root/scripts/demo.sql"
fi

# The start folder: Host.DAT, FOLDER.DAT and .HistorySQL live here.
home="$root/.demo/home"
mkdir -p "$home"
"$build/kestrel_seed_demo" "$home" 127.0.0.1 "$port"

cd "$home"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "run: no display available; running the window under xvfb-run (virtual display)"
  xvfb-run -a -s "-screen 0 1600x1000x24" "$build/kestrel"
else
  "$build/kestrel"
fi
