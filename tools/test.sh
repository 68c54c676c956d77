#!/usr/bin/env bash
# Builds and runs every test: the optimised build and its installation and package
# (tools/check-install.sh), then the build under AddressSanitizer and UndefinedBehaviorSanitizer.
# First, no #include may point up the layers.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/check-layers.sh
tools/install-deps.sh
jobs=$(nproc 2>/dev/null || echo 2)
for preset in release sanitize; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  ctest --preset "$preset" -j "$jobs"
  if [ "$preset" = release ]; then tools/check-install.sh; fi
done
