#!/usr/bin/env bash
# The build without the Linux backends: the core, emulator, fake GPU, simulator and ventractl
# build and pass their tests, and ventractl needs none of the desktop or GPU libraries.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/test.sh portable
ventractl=build/portable/tools/ventractl/ventractl
if ldd "$ventractl" | grep -Ei 'glib|gio|gobject|x11|xcb|opencl|clblast|vulkan|fuse'; then
  echo "portable-check: $ventractl links a desktop or GPU library (above)" >&2
  exit 1
fi
echo "portable-check: $ventractl links only: $(ldd "$ventractl" | awk '{print $1}' | tr '\n' ' ')"
