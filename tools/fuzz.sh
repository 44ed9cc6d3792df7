#!/usr/bin/env bash
# Builds the fuzz targets of the file readers with clang (in build-fuzz/) and
# runs each for SECONDS (default 30), two at a time.  Prints the executions
# and findings per target; exits non-zero when any target found something.
# Inputs that fail are kept in build-fuzz/findings/<target>/, the corpus grown
# by the run in build-fuzz/corpus/<target>/ (seeded from fuzz/corpus/<target>/).
#
# Usage: bash tools/fuzz.sh [SECONDS] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
seconds=${1:-30}
shift || true
case "$seconds" in
  ''|*[!0-9]*) echo "usage: bash tools/fuzz.sh [SECONDS] [TARGET...]  (SECONDS a whole number)" >&2; exit 2 ;;
esac

bash tools/deps.sh clang libclang-rt-14-dev

build=build-fuzz
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang "${launcher[@]}" \
  -DTARVIK_FUZZ=ON -DTARVIK_GUI=OFF -DTARVIK_GENERATOR=OFF -DTARVIK_BENCHMARKS=OFF >/dev/null
cmake --build "$build" -j2 --target fuzz_targets

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  targets=(fuzz_tempfile fuzz_comtxt fuzz_tempfile2 fuzz_comdat fuzz_response fuzz_scatterer
           fuzz_csv fuzz_mca fuzz_settings)
  # Targets for file kinds added later: every fuzz_* program the build made.
  for exe in "$build"/fuzz/fuzz_*; do
    name=$(basename "$exe")
    [ -x "$exe" ] && [[ " ${targets[*]} " != *" $name "* ]] && targets+=("$name")
  done
fi

logs="$build/logs"
mkdir -p "$logs"
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
# No allocation stacks and a small quarantine: the readers allocate a string
# per field, and recording each allocation's stack takes most of the time.
# Rerun a kept input alone for a full report.
export ASAN_OPTIONS=${ASAN_OPTIONS:-malloc_context_size=0:quarantine_size_mb=16}

# One target: its own corpus copy, findings folder and log.
run_one() {
  local t=$1
  local corpus="$build/corpus/${t#fuzz_}" seeds="fuzz/corpus/${t#fuzz_}" found="$build/findings/${t#fuzz_}"
  mkdir -p "$corpus" "$found"
  local dirs=("$corpus")
  [ -d "$seeds" ] && dirs+=("$seeds")
  local status=0
  # libFuzzer runs in its own scratch folder so that stray files stay there.
  # The unfolding conversion of fuzz_arrays takes 0.1 s in a release build
  # and some sixty times that under the sanitizers and the coverage counters.
  local timeout=10
  [ "$t" = fuzz_arrays ] && timeout=60
  (cd "$build" && "$root/$build/fuzz/$t" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout="$timeout" \
      -print_final_stats=1 -artifact_prefix="$root/$found/" "${dirs[@]/#/$root/}") \
      >"$logs/$t.log" 2>&1 || status=$?
  echo "$status" >"$logs/$t.status"
}

for t in "${targets[@]}"; do
  if [ ! -x "$build/fuzz/$t" ]; then echo "no such fuzz target: $t" >&2; exit 2; fi
  rm -f "$logs/$t.status"
  rm -rf "$build/findings/${t#fuzz_}"
done

echo "Running ${#targets[@]} fuzz targets for ${seconds} s each, two at a time"
running=0
for t in "${targets[@]}"; do
  run_one "$t" &
  running=$((running + 1))
  if [ "$running" -ge 2 ]; then
    wait -n || true
    running=$((running - 1))
  fi
done
wait || true

failed=0
printf '%-22s %12s %10s %8s  %s\n' target executions exec/s findings note
for t in "${targets[@]}"; do
  log="$logs/$t.log"
  status=$(cat "$logs/$t.status" 2>/dev/null || echo 99)
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  n=$(find "$build/findings/${t#fuzz_}" -type f | wc -l)
  note=""
  if [ "$status" != 0 ] || [ "$n" -gt 0 ]; then
    failed=1
    [ "$n" -eq 0 ] && n=1
    note=$(grep -m1 -E 'FINDING|ERROR: (libFuzzer|AddressSanitizer)|runtime error|SUMMARY' "$log" || echo "exit status $status")
  fi
  printf '%-22s %12s %10s %8s  %s\n' "$t" "${runs:-?}" "${rate:-?}" "$n" "$note"
done
if [ "$failed" -ne 0 ]; then
  echo "fuzz: findings; inputs in $build/findings/, logs in $logs/"
  exit 1
fi
echo "fuzz: no findings"
