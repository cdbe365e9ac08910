#!/usr/bin/env bash
# Builds the i386 plug-ins and the host, then simulates one example model:
# its signals go to out/oscillator.csv and their plot to out/oscillator.png.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/deps.sh
cmake --preset i386 >/dev/null
cmake --build --preset i386 -j "$(nproc)" >/dev/null
mkdir -p out
echo "== blocksim run examples/oscillator.toml (wrapsum phase accumulator -> mathmap sine and cosine -> extremum)"
tools/run32 build/i386/bin/blocksim run examples/oscillator.toml --output out/oscillator.csv --plot out/oscillator.png
echo "wrote out/oscillator.csv ($(($(wc -l <out/oscillator.csv) - 1)) steps) and out/oscillator.png"
