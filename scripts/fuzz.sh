#!/usr/bin/env bash
# Builds the fuzz targets of the file readers (clang, libFuzzer with ASan and UBSan) into
# build-fuzz/ (or $KESTREL_FUZZ_BUILD_DIR) and runs each for SECONDS (default 60), one after
# the other. New inputs that reach new code go to build-fuzz/corpus/NAME; an input that breaks
# a reader is saved as build-fuzz/crash-* (add it to tests/fuzz/corpus/NAME after the fix).
#   fuzz.sh [SECONDS] [TARGET...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
shift || true
build=${KESTREL_FUZZ_BUILD_DIR:-$root/build-fuzz}
"$root/scripts/setup.sh"
if ! command -v clang++ >/dev/null || ! ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1; then
  echo "fuzz: installing clang"
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends clang >/dev/null
fi
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ -DKESTREL_SANITIZE=fuzzer "${launcher[@]}" >/dev/null
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for f in "$root"/tests/fuzz/corpus/*/; do targets+=("$(basename "$f")"); done
fi
cmake --build "$build" --target "${targets[@]/#/fuzz_}"
cd "$build"
bad=0
for t in "${targets[@]}"; do
  mkdir -p "corpus/$t"
  echo "fuzz: $t for ${seconds}s"
  log="fuzz-$t.log"
  if nice -n 19 "./tests/fuzz/fuzz_$t" -max_total_time="$seconds" -max_len=8192 \
      -print_final_stats=1 -artifact_prefix="$build/crash-$t-" \
      "corpus/$t" "$root/tests/fuzz/corpus/$t" >"$log" 2>&1; then
    echo "fuzz: $t: $(grep -E 'stat::number_of_executed_units' "$log" | awk '{print $2}') executions, no finding"
  else
    bad=1
    grep -E 'ERROR|broken|SUMMARY|Test unit written' "$log" | head -n 10
    echo "fuzz: $t: FOUND a fault (log $build/$log)"
  fi
done
exit "$bad"
