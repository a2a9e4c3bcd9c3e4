#!/usr/bin/env bash
# Installs what the build and the tests need on Debian 12 (bookworm) or 13 (trixie), as root;
# skips apt when all is there. On a release it does not know it installs what that release has
# of the list and names the rest. `setup.sh --list` prints the list (comma-separated), for a root
# made with mmdebstrap.
set -euo pipefail
packages=(
  build-essential cmake ninja-build pkg-config git clang libclang-rt-dev
  libgtest-dev libgmock-dev libbenchmark-dev nlohmann-json3-dev libcli11-dev zsh fish
  libglib2.0-dev libx11-dev dbus libfuse3-dev fuse3 dunst xvfb python3
  ocl-icd-opencl-dev opencl-headers libclblast-dev pocl-opencl-icd libopenblas-dev
  libvulkan-dev glslc mesa-vulkan-drivers vulkan-validationlayers mesa-opencl-icd
  debhelper dpkg-dev lintian systemd kmod man-db unicode-data util-linux procps
)
if [[ ${1:-} == --list ]]; then
  (IFS=,; echo "${packages[*]}")
  exit 0
fi
release=unknown
[[ -r /etc/os-release ]] && release=$(. /etc/os-release && echo "${ID:-}-${VERSION_CODENAME:-}")
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
((${#missing[@]})) || exit 0
if [[ $(id -u) != 0 ]]; then
  echo "setup: missing Debian packages: ${missing[*]}" >&2
  echo "setup: run 'sudo scripts/setup.sh' once, then build as yourself" >&2
  exit 1
fi
apt-get update -qq
case $release in
  debian-bookworm | debian-trixie) ;;
  *)
    # Not a release this project is built on: what it lacks is said, the rest installed.
    known=() absent=()
    for p in "${missing[@]}"; do
      if apt-cache show "$p" >/dev/null 2>&1; then known+=("$p"); else absent+=("$p"); fi
    done
    echo "setup: $release is neither Debian 12 nor 13" >&2
    ((${#absent[@]})) && echo "setup: it has no ${absent[*]}: the build or tests that need" \
      "them will fail" >&2
    ((${#known[@]})) || exit 0
    missing=("${known[@]}")
    ;;
esac
echo "setup: installing ${missing[*]}"
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
