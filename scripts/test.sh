#!/usr/bin/env bash
# Sets everything up, builds, starts a throwaway PostgreSQL and runs every test against it.
#   test.sh [--sanitize | --tsan] [ctest arguments]
# --sanitize builds into build-asan/ with ASan and UBSan (leaks detected, any undefined
# behaviour fatal) and runs every test; --tsan builds into build-tsan/ with TSan and runs the
# tests that use threads: those with "Thread" in their name.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
sanitize=""
selection=()
case "${1:-}" in
  --sanitize) sanitize=address; folder=build-asan; shift ;;
  --tsan) sanitize=thread; folder=build-tsan; selection=(-R Thread); shift ;;
esac
"$root/scripts/setup.sh"
if [ -n "$sanitize" ]; then
  build=$root/$folder
  KESTREL_BUILD_DIR=$build "$root/scripts/build.sh" -DKESTREL_SANITIZE=$sanitize
  supp=$root/tests/sanitizers
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
  export LSAN_OPTIONS=suppressions=$supp/lsan.supp:print_suppressions=0
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  export TSAN_OPTIONS=suppressions=$supp/tsan.supp:halt_on_error=1:second_deadlock_stack=1
else
  "$root/scripts/build.sh"
  build=${KESTREL_BUILD_DIR:-$root/build}
fi

cluster=$(mktemp -d /tmp/kestrel-test.XXXXXX)
chmod 755 "$cluster"
cleanup() { "$root/scripts/pgcluster.sh" stop "$cluster"; rm -rf "$cluster"; }
trap cleanup EXIT
port=$("$root/scripts/pgcluster.sh" start "$cluster")
# Tests that restart the server under the program find it by KESTREL_TEST_CLUSTER.
export PGHOST=127.0.0.1 PGPORT=$port PGUSER=postgres PGDATABASE=postgres KESTREL_TEST_CLUSTER=$cluster
export QT_QPA_PLATFORM=offscreen
echo "test: server on 127.0.0.1:$port"
cd "$build"
ctest --output-on-failure -j1 "${selection[@]}" "$@"
