#!/usr/bin/env bash
# Builds and runs the benchmarks (bench/) in Release builds without
# sanitizers and prints the summary tables of both builds: i386 (the
# deliverable) and x86-64. Where this kernel cannot run 32-bit programs, the
# i386 build runs under qemu-i386 and its timings are the emulator's.
#
#   tools/bench.sh [--quick] [BUILD_ROOT]
#   tools/bench.sh --peer [ROUNDS] [BUILD_ROOT]
#
# BUILD_ROOT defaults to build/ (build/bench-i386, build/bench-x86_64). The
# JSON results and tables go to BUILD_ROOT/bench-*.json and bench-*.md.
#
# --peer installs GNU Radio from Debian when it is missing and times the
# same pipeline in GNU Radio (tools/peer_gnuradio.py) and in blocksim
# (bench/peer1.toml and bench/peer64.toml, both builds), the runs of each
# round alternating, and prints the best of ROUNDS (default 3) in samples
# per second of wall time with the ratio GNU Radio / blocksim.
set -euo pipefail
cd "$(dirname "$0")/.."
mode=tables
min_time=0.5
if [ "${1:-}" = "--quick" ]; then min_time=0.05; shift; fi
rounds=3
if [ "${1:-}" = "--peer" ]; then
  mode=peer
  shift
  if [[ "${1:-}" =~ ^[0-9]+$ ]]; then rounds=$1; shift; fi
fi
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

if [ "$mode" = peer ]; then
  install gnuradio
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  here=$(pwd)
  declare -A best
  keep() {  # keep KEY SECONDS: the least time of KEY
    if [ -z "${best[$1]:-}" ] || python3 -c "import sys; sys.exit(not $2 < ${best[$1]})"; then best[$1]=$2; fi
  }
  blocksim_run() {  # blocksim_run ARCH WIDTH: the seconds of the whole run
    local dir="$here/$root/bench-$1" run=()
    [ "$1" = i386 ] && [ "$(i386_runner "$dir/bin/blocksim")" = qemu ] && run=(qemu-i386)
    local t0 t1
    t0=$(date +%s.%N)
    (cd "$work" && "${run[@]}" "$dir/bin/blocksim" run "$here/bench/peer$2.toml" --plugin-dir "$dir/plugins" \
       --stride 1000000 --output /dev/null)
    t1=$(date +%s.%N)
    python3 -c "print($t1 - $t0)"
  }
  for r in $(seq "$rounds"); do
    for w in 1 64; do
      keep "gnuradio-$w" "$(/usr/bin/python3 tools/peer_gnuradio.py $((1000000 * w)) "$work/gnuradio.f32")"
      for arch in i386 x86_64; do keep "$arch-$w" "$(blocksim_run $arch $w)"; done
    done
  done
  echo "### Peer: GNU Radio $(/usr/bin/python3 -c 'from gnuradio import gr; print(gr.version())') against blocksim"
  echo
  echo "$(nproc) CPUs, load average $(cut -d' ' -f1-3 /proc/loadavg) at the end; best of $rounds alternating runs,"
  echo "wall time; 10^6 steps (GNU Radio: 10^6 samples per value of the width, one float32 stream)."
  echo
  echo "| width | GNU Radio M samples/s | blocksim i386 | ratio | blocksim x86-64 | ratio |"
  echo "|---:|---:|---:|---:|---:|---:|"
  for w in 1 64; do
    python3 -c "
n = 1e6 * $w
g, a, b = n / ${best[gnuradio-$w]}, n / ${best[i386-$w]}, n / ${best[x86_64-$w]}
print(f'| $w | {g / 1e6:.1f} | {a / 1e6:.1f} | {g / a:.2f} | {b / 1e6:.1f} | {g / b:.2f} |')"
  done
  exit 0
fi

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
  "${run[@]}" "$dir/bin/kivrel_bench" --benchmark_min_time="$min_time" \
    --benchmark_out="$root/bench-$arch.json" --benchmark_out_format=json >&2
  "${run[@]}" "$dir/bin/host_bench" --benchmark_min_time="$min_time" \
    --benchmark_out="$root/bench-host-$arch.json" --benchmark_out_format=json >&2
  python3 bench/report.py "$root/bench-$arch.json" "$root/bench-host-$arch.json" "$title" | tee "$root/bench-$arch.md"
done
