#!/usr/bin/env bash
# outputs.sh BUILD_DIR: one digest line for everything a build produces from
# the committed inputs, so that two builds (before and after a change that
# must not alter behaviour) can be compared with diff:
#
#   tools/outputs.sh build/x86_64 > /tmp/before.txt
#   ... change, rebuild ...
#   tools/outputs.sh build/x86_64 > /tmp/after.txt
#   diff /tmp/before.txt /tmp/after.txt && echo identical
#
# Lines, each "KIND NAME SHA256":
#   step  SCRIPT          every tests/scripts/*.step and examples/*.step, run by
#                         `blocksim step` in its own folder: exit status,
#                         standard output and standard error
#   model MODEL           every examples/*.toml, run by `blocksim run` in an
#                         empty folder: exit status, the CSV and standard error
#   file  MODEL/NAME      every other file such a run wrote (sinkdump's output)
#   fuzz  CORPUS/INPUT    every input under fuzz/corpus, replayed with
#                         KIVREL_FUZZ_TRACE=1: the trace the fuzz target writes
#                         (each call's result and messages, sizes, vectors,
#                         port records and the files written; see
#                         fuzz/plugin_target.cpp)
#   exit  CORPUS          the exit status of the replay of a whole corpus
#
# Works for both presets: the programs of a 32-bit build run under qemu-i386
# where the kernel cannot run them. Takes a few minutes (more under qemu).
set -euo pipefail
if [ $# -ne 1 ] || [ ! -x "$1/bin/blocksim" ]; then
  echo "usage: $0 BUILD_DIR (a configured and built preset, e.g. build/x86_64)" >&2
  exit 2
fi
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" && pwd)
work=$(mktemp -d /tmp/kivrel-outputs-XXXXXX)
trap 'rm -rf "$work"' EXIT
cd "$root"

run=()
set +e
"$build/bin/blocksim" --help >/dev/null 2>&1
[ $? -eq 126 ] && run=(qemu-i386)
set -e
export ASAN_OPTIONS=detect_leaks=0

digest() { sha256sum | cut -d' ' -f1; }

for script in tests/scripts/*.step examples/*.step; do
  set +e
  (cd "$(dirname "$script")" && "${run[@]}" "$build/bin/blocksim" step "$(basename "$script")" \
    >"$work/out" 2>"$work/err")
  status=$?
  set -e
  echo "step $script $( { echo "status $status"; cat "$work/out"; echo "--- err"; cat "$work/err"; } | digest)"
done

for model in examples/*.toml; do
  base=$(basename "$model" .toml)
  dir="$work/run-$base"
  mkdir "$dir"
  set +e
  (cd "$dir" && "${run[@]}" "$build/bin/blocksim" run "$root/$model" --output "$work/$base.csv" \
    >"$work/out" 2>"$work/err")
  status=$?
  set -e
  echo "model $model $( { echo "status $status"; cat "$work/$base.csv" "$work/out"; echo "--- err"; cat "$work/err"; } | digest)"
  for f in $(cd "$dir" && LC_ALL=C ls); do echo "file $model/$f $(digest <"$dir/$f")"; done
done

# The replay programs write "replay INPUT (N bytes)" before each input's trace;
# the output is cut there into one piece per input.
replay() {  # PROGRAM CORPUS
  rm -rf "$work/pieces"
  mkdir "$work/pieces"
  set +e
  "${run[@]}" "$build/bin/$1" "$2" 2>/dev/null |
    awk -v dir="$work/pieces" '/^replay /{f = sprintf("%s/%06d", dir, ++n)} f {print > f}'
  status=${PIPESTATUS[0]}
  set -e
  for piece in "$work/pieces"/*; do
    [ -e "$piece" ] || continue
    echo "fuzz $(head -n1 "$piece" | cut -d' ' -f2) $(digest <"$piece")"
  done
  echo "exit $2 $status"
}

export KIVREL_FUZZ_TRACE=1
for corpus in fuzz/corpus/*/; do
  corpus=${corpus%/}
  name=$(basename "$corpus")
  case $name in
    step | model) replay "fuzz_${name}_replay" "$corpus" ;;
    *) KIVREL_FUZZ_PLUGIN=$name KIVREL_FUZZ_PLUGIN_DIR="$build/plugins" replay fuzz_plugin_replay "$corpus" ;;
  esac
done
