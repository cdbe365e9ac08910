#!/usr/bin/env bash
# Builds both presets (i386, the deliverable; x86_64 with sanitizers) and runs
# every test of both.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/deps.sh
jobs=$(nproc)
for preset in i386 x86_64; do
  cmake --preset "$preset"
  cmake --build --preset "$preset" -j "$jobs"
  ctest --preset "$preset" -j "$jobs"
done
