#!/usr/bin/env bash
# Builds the fuzz targets (clang++, libFuzzer, AddressSanitizer, UndefinedBehaviorSanitizer),
# replays the committed corpus through each, then fuzzes each target for SECONDS (default 60)
# starting from that corpus. New inputs go to a scratch copy, never into fuzz/corpus/. An input
# that crashes a target is kept in build/fuzz/crashes/ and ends the script with status 1; add it
# to fuzz/corpus/<target>/ as crash_<what>.* once the fault is fixed.
#   fuzz/run_fuzzers.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
tools/install-deps.sh
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc 2>/dev/null || echo 2)" \
  --target harnix_fuzz_reader harnix_fuzz_run harnix_fuzz_reader_replay harnix_fuzz_run_replay
ctest --preset fuzz

crashes=build/fuzz/crashes
mkdir -p "$crashes"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
passed=0
failed=0
for target in reader run; do
  mkdir -p "$scratch/$target"
  log="$scratch/$target.log"
  if build/fuzz/fuzz/harnix_fuzz_$target "$scratch/$target" "fuzz/corpus/$target" \
      -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048 -close_fd_mask=3 \
      -print_final_stats=1 -artifact_prefix="$crashes/$target-" >"$log" 2>&1; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    tail -n 60 "$log"
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  echo "fuzz $target: ${runs:-0} runs in $seconds s"
done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
