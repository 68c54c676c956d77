#!/usr/bin/env bash
# Builds harnix, generates a small set of synthetic measurements and averages them, writing all
# three results with the progress report on, then the HTML report on them.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc 2>/dev/null || echo 2)" --target harnix harnix-util

demo=build/demo
rm -rf "$demo"
mkdir -p "$demo"
# 8 measurements of a 320 x 240 camera: a common surface with per-file noise and tilt, invalid
# pixels, phase maps on windows of the camera and mixed phase resolutions and scale factors.
build/release/tools/harnix-util synth --out "$demo/inputs" --count 8 --width 320 --height 240 \
  --seed 2026 --windows --mixed --invalid 3
# The per-input report joins the page when this harnix can write one.
inputs=()
usage=$(build/release/harnix 2>&1 || true)
[[ $usage == *-InputReport* ]] && inputs=(-InputReport "$demo/inputs.csv")
build/release/harnix -Verbose -Overwrite -MinValidCnt 6 \
  -AvgOut "$demo/average.dat" -SdevOut "$demo/sdev.dat" -CountOut "$demo/count.dat" \
  "${inputs[@]}" @"$demo/inputs/list.txt"
[ ${#inputs[@]} -gt 0 ] && inputs=(--inputs "$demo/inputs.csv")
build/release/tools/harnix-util report --level plane "${inputs[@]}" \
  "$demo/average.dat" "$demo/sdev.dat" "$demo/count.dat" -o "$demo/report.html"

echo
echo "Inputs:  $demo/inputs/ (list file $demo/inputs/list.txt)"
echo "Results: $demo/average.dat  height average"
echo "         $demo/sdev.dat     height standard deviation"
echo "         $demo/count.dat    count of valid inputs per pixel"
echo "Report:  $demo/report.html  open it in a browser"
