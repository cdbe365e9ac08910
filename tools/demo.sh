#!/usr/bin/env bash
# Builds the i386 plug-ins and the host, then runs the demo.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/deps.sh
cmake --preset i386 >/dev/null
cmake --build --preset i386 -j "$(nproc)" >/dev/null
echo "== blocksim step examples/encode.step (gentaps, the rate-1/2 code 7,5 encoding 1 0 1 1 0)"
tools/run32 build/i386/bin/blocksim step examples/encode.step
