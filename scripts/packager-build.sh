#!/usr/bin/env bash
# Builds the way a packager does: a plain Release configure with no preset, so no warning is an
# error. Keeps such builds from breaking unnoticed.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
build=build/packager
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build"
