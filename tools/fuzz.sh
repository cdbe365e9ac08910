#!/usr/bin/env bash
# Bounded fuzzing of every plug-in, of `blocksim step` and of `blocksim run`.
#
#   tools/fuzz.sh [SECONDS_PER_TARGET] [TARGET...]
#
# Configures and builds the fuzz preset (clang, libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer) in build/fuzz, then runs one fuzzer at a time
# for SECONDS_PER_TARGET seconds (default 10): each plug-in (TARGET = its
# name), then `step` and `model`. Without TARGETs all of them run. A fuzzer
# starts from the committed corpus fuzz/corpus/TARGET and the seeds of
# fuzz/seeds.py; what it finds new goes to build/fuzz/corpus/TARGET, and a
# crashing or hanging input to build/fuzz/artifacts/. The script stops at the
# first target that fails and prints how to replay the input.
#
# Environment: FUZZ_BUILD_DIR replaces build/fuzz; FUZZ_UPDATE_CORPUS=1
# replaces fuzz/corpus/TARGET afterwards with at most 40 inputs of a minimal
# set covering everything found so far (libFuzzer -merge=1).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
tools/deps.sh fuzz
seconds=${1:-10}
shift || true

build=${FUZZ_BUILD_DIR:-$root/build/fuzz}
cmake --preset fuzz -B "$build" >/dev/null
cmake --build "$build" -j "$(nproc)" --target fuzz_plugin fuzz_step fuzz_model

plugins=$(cd "$build/plugins" && ls *.plgglx | sed 's/\.plgglx$//')
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  targets=($plugins step model)
fi

seeds=$(mktemp -d)
trap 'rm -rf "$seeds"' EXIT
python3 fuzz/seeds.py "$seeds"
mkdir -p "$build/artifacts"

# Paths given to a fuzzer are absolute: the plug-in target works in a scratch
# folder of its own.
for t in "${targets[@]}"; do
  case $t in
    step) program=$build/bin/fuzz_step; dict=(-dict="$root/fuzz/step.dict"); env=() ;;
    model) program=$build/bin/fuzz_model; dict=(-dict="$root/fuzz/model.dict"); env=() ;;
    *) program=$build/bin/fuzz_plugin; dict=(); env=(KIVREL_FUZZ_PLUGIN="$t") ;;
  esac
  work=$build/corpus/$t
  mkdir -p "$work" "$root/fuzz/corpus/$t" "$seeds/$t"
  echo "== fuzz $t for ${seconds}s"
  if ! env "${env[@]}" "$program" "${dict[@]}" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 \
      -max_len=4096 -print_final_stats=1 -artifact_prefix="$build/artifacts/$t-" \
      "$work" "$root/fuzz/corpus/$t" "$seeds/$t" </dev/null; then
    echo "fuzz $t FAILED; replay with:"
    echo "  ${env[*]} $program $build/artifacts/$t-<crash file>"
    exit 1
  fi
  if [ "${FUZZ_UPDATE_CORPUS:-0}" = 1 ]; then
    # The inputs that cover what all of them cover, of which the 40 largest
    # (the longest call sequences) are kept, so the corpus stays small.
    merged=$(mktemp -d)
    env "${env[@]}" "$program" -merge=1 -max_len=4096 -timeout=20 "$merged" "$root/fuzz/corpus/$t" "$work" \
      "$seeds/$t" </dev/null 2>&1 | tail -1
    rm -f "$root/fuzz/corpus/$t"/*
    (cd "$merged" && ls -S | sed -n 1,40p | xargs -r cp -t "$root/fuzz/corpus/$t")
    rm -rf "$merged"
  fi
done
echo "== fuzzing found nothing"
