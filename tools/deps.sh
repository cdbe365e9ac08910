#!/usr/bin/env bash
# Installs the Debian packages the build needs, when any is missing.
set -euo pipefail
# slurm-wlm and munge: the one-node cluster of the study test (slurm_study).
packages=(cmake g++ g++-multilib qemu-user googletest libtomlplusplus-dev libcli11-dev gnuplot-nox slurm-wlm munge)
# `tools/deps.sh fuzz`: also the clang toolchain of the fuzz preset (tools/fuzz.sh).
if [ "${1:-}" = fuzz ]; then
  packages+=(clang libclang-rt-14-dev)
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  sudo=""
  [ "$(id -u)" = 0 ] || sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
fi
