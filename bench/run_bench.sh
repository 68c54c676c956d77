#!/usr/bin/env bash
# Whole-run benchmark: harnix against the plain reference loop on generated measurements.
#
#   bench/run_bench.sh [ROUNDS]      (default 11 rounds)
#
# Builds the optimised harnix, harnix-util, harnix-reference-loop, harnix-tight-loop and
# harnix-whole-run, generates (once) 64 measurements of 1024 x 1024 and 256 of 640 x 480 with
# `harnix-util synth` under build/bench/data, reads them once so that the page cache holds them,
# and then, for each set, runs in alternation the two yardsticks (the reference loop and the
# tight loop) and `harnix -AvgOut -SdevOut -CountOut` with -SdevRemove None, Plane and Sphere,
# each with -Threads 1 and with every core, reporting medians and their ratios to the faster
# yardstick (marked *). Then, on the 1024 x 1024 set, rejection with one and three rounds, the
# per-input report, the Plane and Robust removals and -Level Plane, the extremes (-MinOut
# -MaxOut -RangeOut) and the sample deviation with the uncertainty of the mean beside the plain
# run, and the median in memory and in 8 bands, against the same yardsticks; on a set of 64
# moved 1024 x 1024 measurements with a texture, -Align Shift beside the plain run; peak memory
# by N (with -Align on moved 640 x 480 measurements too) and by the median's budget.
# Then cold rounds (twice as many: a disk's pace wanders more than the processors') on the
# 1024 x 1024 set: the page cache dropped before every run (only as root; otherwise the script
# says so and skips them), with `cat` of the same files as the yardstick.
# Last, the peak memory of each program for N = 10, 100 and 1000 inputs (the 640 x 480 files
# named over and over), with 1 thread and every core. Extra synth options (for instance
# "--mixed --windows") can be given in SYNTH_OPTIONS; they name a separate data directory.
# BASELINE=PATH names another harnix (an earlier build, say): every timed harnix run then also
# runs with it, named NAME@base, in the same rounds, so that before and after meet the same
# spells of a shared machine.
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-11}
synth_options=${SYNTH_OPTIONS:-}

cmake --preset release >/dev/null
cmake --build --preset release -j2 --target harnix harnix-util harnix-reference-loop \
  harnix-tight-loop harnix-whole-run >/dev/null

bin=build/release
data=build/bench/data${synth_options:+-$(echo "$synth_options" | tr -c 'a-z0-9' '_')}
out=build/bench/out
mkdir -p "$data" "$out"

# Generates a set once: NAME COUNT WIDTH HEIGHT [SYNTH OPTIONS...].
make_set() {
  local dir=$data/$1
  if [[ -f $dir/list.txt && $(wc -l <"$dir/list.txt") -eq $2 ]]; then return; fi
  local need_kib=$(($2 * $3 * $4 * 4 / 1024 + 4096))
  local free_kib
  free_kib=$(df -Pk "$data" | awk 'NR == 2 { print $4 }')
  if ((free_kib < 2 * need_kib)); then
    echo "run_bench.sh: not enough free disk for $1 ($need_kib KiB needed)" >&2
    df -h "$data" >&2
    exit 1
  fi
  rm -rf "$dir"
  # shellcheck disable=SC2086
  "$bin/tools/harnix-util" synth --out "$dir" --count "$2" --width "$3" --height "$4" --seed 9 \
    $synth_options "${@:5}" >/dev/null
}

make_set cam1024 64 1024 1024
make_set cam640 256 640 480
# Moved measurements with a texture to align on, for -Align.
make_set moved1024 64 1024 1024 --shift 6 --whole-shifts --texture 10
make_set moved640 16 640 480 --shift 6 --whole-shifts --texture 10

# The 640 x 480 files named over and over, N names in all.
for n in 10 100 1000; do
  awk -v n="$n" '{ name[NR] = $0 } END { for (i = 0; i < n; ++i) print name[i % NR + 1] }' \
    "$data/cam640/list.txt" >"$data/cam640/list_$n.txt"
  awk -v n="$n" '{ name[NR] = $0 } END { for (i = 0; i < n; ++i) print name[i % NR + 1] }' \
    "$data/moved640/list.txt" >"$data/moved640/list_$n.txt"
done

cores=$(nproc)

baseline=${BASELINE:-}
if [[ -n $baseline && ! -x $baseline ]]; then
  echo "run_bench.sh: BASELINE $baseline is not a program" >&2
  exit 1
fi

harnix_args() {  # LIST REMOVE THREADS
  echo "$bin/harnix -Overwrite -AvgOut $out/avg.dat -SdevOut $out/sdev.dat -CountOut $out/count.dat \
    -SdevRemove $2 -Threads $3 @$1"
}

# "-- NAME ARG..." for a harnix run, and with BASELINE the same run of the baseline beside it.
run() {  # NAME ARG...
  local name=$1
  shift
  echo "-- $name $*"
  if [[ -n $baseline ]]; then
    local args=("$@")
    args[0]=$baseline
    echo "-- $name@base ${args[*]}"
  fi
}

# The two yardsticks, then harnix in each removal mode with 1 thread and with every core.
yardsticks() {  # LIST COUNT
  echo "-- reference $bin/bench/harnix-reference-loop $2 $1 -- tight-loop $bin/bench/harnix-tight-loop $1"
}
programs() {  # LIST COUNT
  yardsticks "$1" "$2"
  for remove in None Plane Sphere; do
    run "$remove-1" $(harnix_args "$1" "$remove" 1)
    run "$remove-$cores" $(harnix_args "$1" "$remove" "$cores")
  done
}

echo "== $cores cores; $(uname -r)"
for set in cam1024 cam640; do
  list=$data/$set/list.txt
  cat $(cat "$list") >/dev/null  # warm the page cache
  n=$(wc -l <"$list")
  echo
  echo "== $set: $n inputs ($(du -sh "$data/$set" | cut -f1)), $rounds rounds, warm page cache"
  # shellcheck disable=SC2046
  "$bin/bench/harnix-whole-run" --yardsticks 2 "$rounds" $(programs "$list" "$n")
done

list=$data/cam1024/list.txt
echo
echo "== cam1024: rejection, the per-input report, the Robust removal and levelling, warm page cache"
# shellcheck disable=SC2046
"$bin/bench/harnix-whole-run" --yardsticks 2 "$rounds" $(yardsticks "$list" 64) \
  $(run "plain-$cores" $(harnix_args "$list" None "$cores")) \
  $(run reject-1-round-1 $(harnix_args "$list" None 1) -Reject 3) \
  $(run "reject-1-round-$cores" $(harnix_args "$list" None "$cores") -Reject 3) \
  $(run "reject-3-rounds-$cores" $(harnix_args "$list" None "$cores") -Reject 3 -RejectIter 3) \
  $(run "input-report-$cores" $(harnix_args "$list" None "$cores") -InputReport "$out/report.csv") \
  $(run "Plane-$cores" $(harnix_args "$list" Plane "$cores")) \
  $(run Robust-1 $(harnix_args "$list" Robust 1)) \
  $(run "Robust-$cores" $(harnix_args "$list" Robust "$cores")) \
  $(run "level-Plane-$cores" $(harnix_args "$list" None "$cores") -Level Plane)

echo
echo "== cam1024: the extremes and the uncertainty beside the plain run, warm page cache"
extremes="-MinOut $out/min.dat -MaxOut $out/max.dat -RangeOut $out/range.dat"
# shellcheck disable=SC2046,SC2086
"$bin/bench/harnix-whole-run" --yardsticks 2 "$rounds" $(yardsticks "$list" 64) \
  $(run plain-1 $(harnix_args "$list" None 1)) \
  $(run extremes-1 $(harnix_args "$list" None 1) $extremes) \
  $(run "plain-$cores" $(harnix_args "$list" None "$cores")) \
  $(run "extremes-$cores" $(harnix_args "$list" None "$cores") $extremes) \
  $(run "sample-uncert-$cores" $(harnix_args "$list" None "$cores") -SdevType Sample \
    -UncertOut "$out/uncert.dat")

echo
echo "== cam1024: the median in memory and in 8 bands beside the plain run, warm page cache"
# 64 inputs x 1024 columns x 4 bytes = 256 KiB a row: 32 MiB holds 128 rows, 8 bands.
# shellcheck disable=SC2046
"$bin/bench/harnix-whole-run" --yardsticks 2 "$rounds" $(yardsticks "$list" 64) \
  -- plain-$cores $(harnix_args "$list" None "$cores") \
  -- median-$cores $(harnix_args "$list" None "$cores") -Combine Median \
  -- median-8-bands-$cores $(harnix_args "$list" None "$cores") -Combine Median -MemoryLimit 32

echo
echo "== moved1024: lateral alignment beside the plain run of the same inputs, warm page cache"
list=$data/moved1024/list.txt
cat $(cat "$list") >/dev/null
# shellcheck disable=SC2046
"$bin/bench/harnix-whole-run" --yardsticks 2 "$rounds" $(yardsticks "$list" 64) \
  -- plain-1 $(harnix_args "$list" None 1) \
  -- align-1 $(harnix_args "$list" None 1) -Align Shift \
  -- plain-$cores $(harnix_args "$list" None "$cores") \
  -- align-$cores $(harnix_args "$list" None "$cores") -Align Shift \
  -- align-level-Plane-$cores $(harnix_args "$list" Plane "$cores") -Align Shift -Level Plane

echo
list=$data/cam1024/list.txt
if [[ $(id -u) -eq 0 ]]; then
  echo "== cam1024, $((2 * rounds)) rounds, page cache dropped before every run (ratios to cat)"
  # shellcheck disable=SC2046
  "$bin/bench/harnix-whole-run" --cold $((2 * rounds)) -- cat cat $(cat "$list") \
    -- reference "$bin/bench/harnix-reference-loop" 64 "$list" \
    $(run None-1 $(harnix_args "$list" None 1)) $(run "None-$cores" $(harnix_args "$list" None "$cores")) \
    $(run "Plane-$cores" $(harnix_args "$list" Plane "$cores"))
else
  echo "== cold rounds skipped: dropping the page cache needs root"
fi

echo
echo "== peak memory by N (640 x 480 camera)"
for n in 10 100 1000; do
  list=$data/cam640/list_$n.txt
  echo "-- N = $n"
  # shellcheck disable=SC2046
  "$bin/bench/harnix-whole-run" 1 \
    -- reference "$bin/bench/harnix-reference-loop" 1 "$list" \
    -- None-1 $(harnix_args "$list" None 1) -- None-$cores $(harnix_args "$list" None "$cores") \
    -- Plane-$cores $(harnix_args "$list" Plane "$cores") \
    -- extremes-$cores $(harnix_args "$list" None "$cores") $extremes \
    -- median-64MiB-$cores $(harnix_args "$list" None "$cores") -Combine Median -MemoryLimit 64 \
    -- align-$cores $(harnix_args "$data/moved640/list_$n.txt" None "$cores") -Align Shift |
    awk '{ print $1, $NF }' | column -t
done

echo
echo "== peak memory of the median by budget (1024 x 1024 camera, 64 inputs)"
list=$data/cam1024/list.txt
# shellcheck disable=SC2046
"$bin/bench/harnix-whole-run" 1 \
  -- plain-$cores $(harnix_args "$list" None "$cores") \
  -- median-8MiB $(harnix_args "$list" None "$cores") -Combine Median -MemoryLimit 8 \
  -- median-32MiB $(harnix_args "$list" None "$cores") -Combine Median -MemoryLimit 32 \
  -- median-128MiB $(harnix_args "$list" None "$cores") -Combine Median -MemoryLimit 128 \
  -- median-default $(harnix_args "$list" None "$cores") -Combine Median |
  awk '{ print $1, $NF }' | column -t
