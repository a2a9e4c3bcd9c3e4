#!/usr/bin/env bash
# Installs, builds and runs the main job: the app simulated on the bundled default scenario
# (a MacPro5,1 with an RX 580 8 GB, fan 0 at about 1500 rpm, nobody answers).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh default
build/default/tools/ventractl/ventractl simulate
