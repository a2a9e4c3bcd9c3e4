#!/usr/bin/env bash
# Builds the way a packager does: a plain Release configure with no preset, so no warning is an
# error. Keeps such builds from breaking unnoticed, and counts the warnings a packager would see
# (GCC 12 at -O3 finds some that the presets' -O2 builds do not).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
build=build/packager
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" 2>&1 | tee "$build/build.log"
echo "packager-build: $(grep -c 'warning:' "$build/build.log" || true) compiler warnings"
