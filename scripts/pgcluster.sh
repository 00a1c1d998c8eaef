#!/usr/bin/env bash
# A PostgreSQL cluster for tests or the demo.
#   pgcluster.sh start DIR [BINDIR]  initialise DIR (when empty) and start a server on a free
#                                    port; prints the port on stdout
#   pgcluster.sh stop DIR            stop the server of DIR (quietly does nothing when none runs)
#   pgcluster.sh restart DIR         restart the server of DIR on its port, ending every session
# BINDIR is a folder with initdb, pg_ctl and postgres (another server release); without it the
# installed server is used. DIR remembers the folder it was started with, for stop.
# The server refuses to run as root, so as root it runs as the postgres OS user.
# Trust authentication on 127.0.0.1 and a socket in DIR/sock; superuser "postgres".
set -euo pipefail
cmd=${1:?start or stop}; dir=${2:?data folder}
bindir=${3:-}
[ -n "$bindir" ] || [ ! -f "$dir/bindir" ] || bindir=$(cat "$dir/bindir")
[ -n "$bindir" ] || bindir=$(pg_config --bindir 2>/dev/null || true)
[ -x "$bindir/initdb" ] || [ -n "${3:-}" ] || bindir=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
[ -x "$bindir/initdb" ] || { echo "pgcluster: no PostgreSQL server binaries found" >&2; exit 1; }

as_owner() {
  if [ "$(id -u)" -eq 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi
}

# Below the kernel's ephemeral range (32768 and up), where client sockets never take a port.
free_port() {
  local p
  for _ in $(seq 1 200); do
    p=$((20000 + RANDOM % 12000))
    if ! (echo >/dev/tcp/127.0.0.1/$p) 2>/dev/null; then echo "$p"; return 0; fi
  done
  echo "pgcluster: no free port found" >&2; return 1
}

case "$cmd" in
  start)
    mkdir -p "$dir"
    [ "$(id -u)" -eq 0 ] && chown postgres: "$dir"
    if [ ! -f "$dir/data/PG_VERSION" ]; then
      as_owner "$bindir/initdb" -D "$dir/data" -U postgres -E UTF8 --locale=C -A trust >"$dir/initdb.log" 2>&1 \
        || { cat "$dir/initdb.log" >&2; exit 1; }
      # Members of kestrel_pw log in with their password (md5 takes SCRAM verifiers too).
      as_owner sed -i '0,/^host/s//host    all    +kestrel_pw    127.0.0.1\/32    md5\n&/' "$dir/data/pg_hba.conf"
    fi
    as_owner mkdir -p "$dir/sock"
    echo "$bindir" >"$dir/bindir"
    # A port that looked free can be taken before the server binds it: try a few.
    for attempt in 1 2 3 4 5; do
      port=$(free_port)
      if as_owner "$bindir/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 \
        -o "-c listen_addresses=127.0.0.1 -c port=$port -c unix_socket_directories=$dir/sock -c fsync=off -c synchronous_commit=off -c full_page_writes=off" \
        start >/dev/null; then
        echo "$port"
        exit 0
      fi
    done
    tail -n 30 "$dir/server.log" >&2
    exit 1
    ;;
  restart)
    as_owner "$bindir/pg_ctl" -D "$dir/data" -l "$dir/server.log" -m fast -w -t 60 restart >/dev/null
    ;;
  stop)
    if [ -f "$dir/data/postmaster.pid" ]; then
      as_owner "$bindir/pg_ctl" -D "$dir/data" -m fast -w stop >/dev/null 2>&1 || true
    fi
    ;;
  *) echo "pgcluster: start or stop" >&2; exit 2 ;;
esac
