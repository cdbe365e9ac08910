#!/usr/bin/env bash
# Builds and runs the benchmarks (bench/) in Release builds without
# sanitizers and prints the summary tables: i386 (the deliverable, run under
# qemu-i386 when the kernel cannot run 32-bit programs, so its timings are
# the emulator's) and native x86-64.
#
#   tools/bench.sh [--quick] [BUILD_ROOT]
#
# BUILD_ROOT defaults to build/ (build/bench-i386, build/bench-x86_64). The
# JSON results and tables go to BUILD_ROOT/bench-*.json and bench-*.md.
set -euo pipefail
cd "$(dirname "$0")/.."
min_time=0.5
if [ "${1:-}" = "--quick" ]; then min_time=0.05; shift; fi
root=${1:-build}

tools/deps.sh
# Google Benchmark for both architectures (the i386 one through multiarch).
missing=()
for p in libbenchmark-dev:amd64 libbenchmark-dev:i386; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" = 0 ] || sudo=sudo
  dpkg --print-foreign-architectures | grep -qx i386 || $sudo dpkg --add-architecture i386
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-remove "${missing[@]}"
fi

for arch in i386 x86_64; do
  dir="$root/bench-$arch"
  cmake --preset "bench-$arch" -B "$dir" >/dev/null
  cmake --build "$dir" -j "$(nproc)" --target kivrel_bench >/dev/null
  run=()
  [ "$arch" = i386 ] && run=(tools/run32)
  "${run[@]}" "$dir/bin/kivrel_bench" --benchmark_min_time="$min_time" \
    --benchmark_out="$root/bench-$arch.json" --benchmark_out_format=json >&2
  title="x86-64, native"
  [ "$arch" = i386 ] && title="i386 (-m32 -msse2 -mfpmath=sse)"
  python3 bench/report.py "$root/bench-$arch.json" "$title" | tee "$root/bench-$arch.md"
done
