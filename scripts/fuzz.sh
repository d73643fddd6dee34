#!/usr/bin/env bash
# Fuzzes every reader of untrusted input (fuzz/): builds the libFuzzer
# targets with clang in build-fuzz, then for each target replays its seed
# corpus (fuzz/corpus/<target>) and fuzzes it for the given number of
# seconds (default 600), with the JSON dictionary fuzz/json.dict for the
# targets that read JSON. New inputs go to build-fuzz/corpus/<target>, never
# into the committed seeds.
#
# A crash, a sanitizer report, a leak or a hang ends the target's run; the
# input is saved in build-fuzz/crashes/<target>/ and printed with the command
# that replays it. Exits 1 when any target failed.
#
#   scripts/fuzz.sh [seconds per target, default 600]
set -euo pipefail
seconds=${1:-600}
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
targets=(status locator action variable_map)

echo "=== build-fuzz: configure and build (clang, libFuzzer, ASan + UBSan)"
cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DVERU_FUZZ=ON \
  -DVERU_BUILD_BENCH=OFF >/dev/null
cmake --build build-fuzz -j "$(nproc 2>/dev/null || echo 2)" --target veru_fuzz

export ASAN_OPTIONS="${ASAN_OPTIONS:-halt_on_error=1:detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}"
failed=()
for target in "${targets[@]}"; do
  program=build-fuzz/fuzz/fuzz_$target
  seeds=fuzz/corpus/$target
  corpus=build-fuzz/corpus/$target
  crashes=build-fuzz/crashes/$target
  mkdir -p "$corpus" "$crashes"
  options=(-timeout=25 -rss_limit_mb=2048 -print_final_stats=1
           "-artifact_prefix=$crashes/")
  [ "$target" != variable_map ] && options+=(-dict=fuzz/json.dict)
  log=build-fuzz/fuzz_$target.log
  before=$(ls "$crashes" | wc -l)
  echo "=== fuzz_$target: seeds replayed, then ${seconds} s of fuzzing"
  status=0
  "$program" "${options[@]}" -runs=0 "$seeds" >"$log" 2>&1 &&
    "$program" "${options[@]}" -max_total_time="$seconds" "$corpus" "$seeds" \
      >>"$log" 2>&1 || status=$?
  runs=$(grep -o '^stat::number_of_executed_units: *[0-9]*' "$log" | tail -1 | grep -o '[0-9]*$' || true)
  if [ "$status" -eq 0 ]; then
    echo "fuzz_$target: no crash in ${runs:-0} runs ($(ls "$corpus" | wc -l) inputs in $corpus)"
    continue
  fi
  failed+=("$target")
  grep -E '^(==[0-9]+==ERROR|SUMMARY|.*runtime error)' "$log" | head -5 || true
  input=$(ls -t "$crashes" | head -1)
  if [ "$(ls "$crashes" | wc -l)" -gt "$before" ] && [ -n "$input" ]; then
    echo "fuzz_$target: FAILED (exit $status); input saved in $crashes/$input"
    echo "  replay: $program $crashes/$input"
  else
    echo "fuzz_$target: FAILED (exit $status); see $log"
  fi
done
if [ ${#failed[@]} -ne 0 ]; then
  echo "=== fuzzing FAILED: ${failed[*]}"
  exit 1
fi
echo "=== fuzzing: no crash in any target"
