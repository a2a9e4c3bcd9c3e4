#!/usr/bin/env bash
# Builds the Debian package the way Debian does (debian/, debhelper, dpkg-buildpackage) from a
# copy of the tracked sources in build/packager/: a plain configure with no preset, so no warning
# is an error, with Debian's hardening flags. Counts the warnings a packager would see (GCC 12 at
# -O2 with _FORTIFY_SOURCE finds some that the presets do not). The packages land in
# build/packager/.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
out=build/packager
rm -rf "$out"
mkdir -p "$out/ventra"
git ls-files -z --cached --others --exclude-standard | xargs -0 cp --parents -t "$out/ventra"
(cd "$out/ventra" && dpkg-buildpackage -us -uc -b) >"$out/build.log" 2>&1 || {
  tail -n 15 "$out/build.log"
  echo "packager-build: dpkg-buildpackage failed (whole log: $out/build.log)" >&2
  exit 1
}
echo "packager-build: $(grep -c 'warning:' "$out/build.log" || true) compiler warnings;" \
  "built $(cd "$out" && ls ./*.deb | tr '\n' ' ')"
