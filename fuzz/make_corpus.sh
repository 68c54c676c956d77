#!/usr/bin/env bash
# Regenerates the seed corpus of the fuzz targets in fuzz/corpus/ from a few small synthetic
# measurements (an 8 x 6 camera, phase maps on windows, mixed acquisitions, invalid pixels).
# Crash regressions (fuzz/corpus/*/crash_*) are kept.
#   fuzz/make_corpus.sh [BUILD_DIR]   (default build/release; built when missing)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
if [ ! -x "$build/tools/harnix-util" ] || [ ! -x "$build/fuzz/harnix-fuzz-seeds" ]; then
  cmake --preset release >/dev/null
  cmake --build --preset release -j2 --target harnix-util harnix-fuzz-seeds
  build=build/release
fi
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
"$build/tools/harnix-util" synth --out "$scratch/synth" --count 2 --width 8 --height 6 \
  --seed 7 --windows --mixed --invalid 10 >/dev/null
find fuzz/corpus -type f ! -name 'crash_*' -delete 2>/dev/null || true
"$build/fuzz/harnix-fuzz-seeds" "$scratch/synth/list.txt" fuzz/corpus
du -sh fuzz/corpus
