#!/usr/bin/env bash
# Builds harnix, generates a small set of synthetic measurements and averages them, writing all
# three results and the per-input report with the progress report on, then the HTML report. It
# installs and builds only what the programs need (no tests or benchmarks), in a tree of its own.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh build
cmake --preset release -B build/demo-build -DHARNIX_TESTS=OFF -DHARNIX_BENCH=OFF >/dev/null
cmake --build build/demo-build -j "$(nproc 2>/dev/null || echo 2)" --target harnix harnix-util

demo=build/demo
rm -rf "$demo"
mkdir -p "$demo"
# 8 measurements of a 320 x 240 camera: a common surface with per-file noise and tilt, invalid
# pixels, phase maps on windows of the camera and mixed phase resolutions and scale factors.
build/demo-build/tools/harnix-util synth --out "$demo/inputs" --count 8 --width 320 --height 240 \
  --seed 2026 --windows --mixed --invalid 3
build/demo-build/harnix -Verbose -Overwrite -MinValidCnt 6 \
  -AvgOut "$demo/average.dat" -SdevOut "$demo/sdev.dat" -CountOut "$demo/count.dat" \
  -InputReport "$demo/inputs.csv" @"$demo/inputs/list.txt"
build/demo-build/tools/harnix-util report --level plane --inputs "$demo/inputs.csv" \
  "$demo/average.dat" "$demo/sdev.dat" "$demo/count.dat" -o "$demo/report.html"

echo
echo "Inputs:  $demo/inputs/ (list file $demo/inputs/list.txt)"
echo "Results: $demo/average.dat  height average"
echo "         $demo/sdev.dat     height standard deviation"
echo "         $demo/count.dat    count of valid inputs per pixel"
echo "         $demo/inputs.csv   each input against the average"
echo "Report:  $demo/report.html  open it in a browser"
