#!/usr/bin/env bash
# The build without the Linux backends. The default build makes ventractl-portable from the same
# objects as ventractl but with none of the host's backends: it must link none of the desktop or
# GPU libraries and work with emulated SMCs and simulated hosts, saying so for the rest; and a
# tree configured without the Linux backends (the portable preset) must configure. With --full,
# that tree is built and its whole suite run as well.
#
#   scripts/portable-check.sh [--full]
set -euo pipefail
cd "$(dirname "$0")/.."
if [[ ${1:-} == --full ]]; then
  scripts/test.sh portable
  ventractl=build/portable/tools/ventractl/ventractl
else
  scripts/setup.sh
  cmake --preset portable >/dev/null
  cmake --preset default >/dev/null
  cmake --build --preset default --target ventractl-portable
  ventractl=build/default/tools/ventractl/ventractl-portable
fi
if ldd "$ventractl" | grep -Ei 'glib|gio|gobject|x11|xcb|opencl|clblast|vulkan|fuse'; then
  echo "portable-check: $ventractl links a desktop or GPU library (above)" >&2
  exit 1
fi
echo "portable-check: $ventractl links only: $(ldd "$ventractl" | awk '{print $1}' | tr '\n' ' ')"
"$ventractl" simulate default.json | tail -n 1
"$ventractl" --profile macpro5_1-stuck.json reset --gpu fake | tail -n 1
"$ventractl" --profile macpro5_1.json fans >/dev/null
said=$("$ventractl" fans 2>&1) && { echo "portable-check: fans worked without a backend" >&2; exit 1; }
grep -q "built without the Linux backends" <<<"$said" ||
  { echo "portable-check: fans said: $said" >&2; exit 1; }
echo "portable-check: the tool without the host's backends works with emulated and simulated hosts"
