#!/usr/bin/env bash
# Builds the Debian package the way Debian does (debian/, debhelper, dpkg-buildpackage) from a
# copy of the sources in build/packager/ (a git checkout's tracked and new files, or everything of
# an unpacked release archive but its build/): a plain configure with no preset, so no warning
# is an error, with Debian's hardening flags. Counts the warnings a packager would see (GCC 12 at
# -O2 with _FORTIFY_SOURCE finds some that the presets do not). The packages land in
# build/packager/. Needs the package's build dependencies and nothing else: `sudo apt-get
# build-dep ./` installs them.
set -euo pipefail
cd "$(dirname "$0")/.."
if ! missing=$(dpkg-checkbuilddeps 2>&1); then
  echo "packager-build: ${missing#dpkg-checkbuilddeps: }" >&2
  echo "packager-build: 'sudo apt-get build-dep ./' installs them" >&2
  exit 1
fi
out=build/packager
rm -rf "$out"
mkdir -p "$out/ventra"
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  git ls-files -z --cached --others --exclude-standard | xargs -0 cp --parents -t "$out/ventra"
else
  find . -path ./build -prune -o -type f -print0 | xargs -0 cp --parents -t "$out/ventra"
fi
(cd "$out/ventra" && dpkg-buildpackage -us -uc -b) >"$out/build.log" 2>&1 || {
  tail -n 15 "$out/build.log"
  echo "packager-build: dpkg-buildpackage failed (whole log: $out/build.log)" >&2
  exit 1
}
# A compiler's warnings name the file, line and column; dpkg's own notes are not counted.
echo "packager-build: $(grep -cE '^[^ ]+:[0-9]+:[0-9]+: warning:' "$out/build.log" || true)" \
  "compiler warnings;" \
  "built $(cd "$out" && ls ./*.deb | tr '\n' ' ')"
