#!/usr/bin/env bash
# Installs what the build and tests need on Debian 12 (run as root). Skips apt when all is there.
set -euo pipefail
packages=(
  build-essential cmake ninja-build pkg-config git clang-14 libclang-rt-14-dev
  libgtest-dev libgmock-dev libbenchmark-dev nlohmann-json3-dev libcli11-dev zsh fish
  libglib2.0-dev libx11-dev dbus libfuse3-dev fuse3 dunst xvfb python3
  ocl-icd-opencl-dev opencl-headers libclblast-dev pocl-opencl-icd libopenblas-dev
  libvulkan-dev glslc mesa-vulkan-drivers vulkan-validationlayers mesa-opencl-icd
  debhelper dpkg-dev lintian systemd kmod unicode-data
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  if [[ $(id -u) != 0 ]]; then
    echo "setup: missing Debian packages: ${missing[*]}" >&2
    echo "setup: run 'sudo scripts/setup.sh' once, then build as yourself" >&2
    exit 1
  fi
  echo "setup: installing ${missing[*]}"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
