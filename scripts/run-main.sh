#!/usr/bin/env bash
# Installs, builds and runs the main job: the bundled example run of ventractl.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh default
build/default/tools/ventractl/ventractl --profile profiles/example.json keys
