#!/usr/bin/env bash
# Builds and runs the benchmarks (bench/) in Release builds without
# sanitizers and prints the summary tables of both builds: i386 (the
# deliverable) and x86-64. Where this kernel cannot run 32-bit programs, the
# i386 build runs under qemu-i386 and its timings are the emulator's.
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

sudo=""
[ "$(id -u)" = 0 ] || sudo=sudo
install() {  # install PACKAGE... when any is missing
  local missing=()
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return
  case " ${missing[*]}" in *:i386*)
    dpkg --print-foreign-architectures | grep -qx i386 || $sudo dpkg --add-architecture i386 ;;
  esac
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends --no-remove "${missing[@]}"
}

tools/deps.sh
# Google Benchmark for both architectures (the i386 one through multiarch).
install libbenchmark-dev:amd64 libbenchmark-dev:i386

# How a program of the i386 build runs here: natively, or under qemu-i386.
i386_runner() {
  if [ -n "$(ls /proc/sys/fs/binfmt_misc 2>/dev/null | grep -i 'qemu-i386')" ]; then echo qemu; return; fi
  "$1" --help >/dev/null 2>&1 && echo native || echo qemu
}

for arch in i386 x86_64; do
  dir="$root/bench-$arch"
  cmake --preset "bench-$arch" -B "$dir" >/dev/null
  cmake --build "$dir" -j "$(nproc)" --target kivrel_bench host_bench blocksim >/dev/null
done

for arch in i386 x86_64; do
  dir="$root/bench-$arch"
  run=()
  title="x86-64, native"
  if [ "$arch" = i386 ]; then
    title="i386 (-m32 -msse2 -mfpmath=sse), native"
    if [ "$(i386_runner "$dir/bin/kivrel_bench")" = qemu ]; then
      run=(qemu-i386)
      title="i386 (-m32 -msse2 -mfpmath=sse) under qemu-i386: emulated, not native timings"
    fi
  fi
  "${run[@]}" "$dir/bin/kivrel_bench" --benchmark_filter=-host/ --benchmark_min_time="$min_time" \
    --benchmark_out="$root/bench-$arch.json" --benchmark_out_format=json >&2
  "${run[@]}" "$dir/bin/host_bench" --benchmark_min_time="$min_time" \
    --benchmark_out="$root/bench-host-$arch.json" --benchmark_out_format=json >&2
  python3 bench/report.py "$root/bench-$arch.json" "$root/bench-host-$arch.json" "$title" | tee "$root/bench-$arch.md"
done
