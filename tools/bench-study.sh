#!/usr/bin/env bash
# Throughput of `blocksim sweep`: points per second of each example study
# (examples/studies) with -j 1 and -j 2, in Release builds without
# sanitizers: i386 (the deliverable; under qemu-i386 where the kernel cannot
# run 32-bit programs, so its figures are then the emulator's) and x86-64.
# The best of three sweeps counts; the table goes to standard output.
#
#   tools/bench-study.sh [BUILD_ROOT]      (default build/: build/study-i386, build/study-x86_64)
set -euo pipefail
cd "$(dirname "$0")/.."
root=${1:-build}
tools/deps.sh
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

echo "| study | points | build | -j 1 points/s | -j 2 points/s |"
echo "|---|---:|---|---:|---:|"
for arch in i386 x86_64; do
  dir="$root/study-$arch"
  cmake --preset "bench-$arch" -B "$dir" -DKIVREL_BENCH=OFF >/dev/null
  cmake --build "$dir" -j "$(nproc)" >/dev/null
  for table in examples/studies/*.csv; do
    study=${table%.csv}.toml
    points=$("$dir/bin/blocksim" sweep "$study" --count)
    rates=()
    for jobs in 1 2; do
      best=""
      for _ in 1 2 3; do
        start=$(date +%s%N)
        "$dir/bin/blocksim" sweep "$study" -j "$jobs" --results "$scratch/results" >/dev/null 2>&1 || true
        took=$(($(date +%s%N) - start))
        if [ -z "$best" ] || [ "$took" -lt "$best" ]; then best=$took; fi
      done
      rates+=("$(awk -v n="$points" -v ns="$best" 'BEGIN { printf "%.0f", n / (ns / 1e9) }')")
    done
    echo "| $(basename "$study") | $points | $arch | ${rates[0]} | ${rates[1]} |"
  done
done
