#!/usr/bin/env bash
# bench_export of several builds in one sitting, alternating, on the same server and tables:
#   bench/transfer/alternate.sh ROUNDS "SIZES" BUILD_DIR...
# e.g. alternate.sh 3 "1000000 5000000" /path/to/old/build build
# Each round runs every size of every build once, the builds in turn (their order reversed
# every other round, so that neither always runs first); each line of bench_export is printed
# after the build's name and the load average (1 minute) just before it ran. The tables are
# kept between runs (KBENCH_KEEP), so every build reads the same table and the server's work
# of making one falls into no run; drop them afterwards (kbench_export_<rows>).
# KBENCH_MAX_LOAD=L waits (up to 10 minutes a run) until the load is below L.
# Takes the same environment as bench_export (PGHOST, PGPORT, PGUSER; KBENCH_TABLE_ONLY...).
set -euo pipefail
rounds=${1:?rounds}; sizes=${2:?sizes}; shift 2
[ $# -ge 1 ] || { echo "alternate.sh: name at least one build folder" >&2; exit 2; }
builds=("$@")
export KBENCH_KEEP=1

load() { cut -d' ' -f1 /proc/loadavg; }

quiet() {
  [ -n "${KBENCH_MAX_LOAD:-}" ] || return 0
  local waited=0
  while awk -v l="$(load)" -v m="$KBENCH_MAX_LOAD" 'BEGIN { exit !(l >= m) }'; do
    [ $waited -ge 600 ] && return 0
    sleep 10; waited=$((waited + 10))
  done
}

for ((round = 1; round <= rounds; ++round)); do
  order=("${builds[@]}")
  if ((round % 2 == 0)); then
    order=(); for ((i = ${#builds[@]} - 1; i >= 0; --i)); do order+=("${builds[i]}"); done
  fi
  for rows in $sizes; do
    for build in "${order[@]}"; do
      quiet
      before=$(load)
      line=$("$build/bench/transfer/bench_export" "$rows" 2>/dev/null | sed 's/^/    /') || line="    (failed)"
      printf 'round %d  %-40s  load %s\n%s\n' "$round" "$build" "$before" "$line"
    done
  done
done
