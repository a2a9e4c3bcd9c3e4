#!/usr/bin/env bash
# Installs, builds and runs the whole suite for one preset (default: "default"; also "asan").
set -euo pipefail
cd "$(dirname "$0")/.."
preset=${1:-default}
scripts/setup.sh
scripts/build.sh "$preset"
ctest --preset "$preset" -j 2
