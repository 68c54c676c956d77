#!/usr/bin/env bash
# Builds harnix and shows it at work.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc 2>/dev/null || echo 2)"
build/release/harnix || true
