#!/usr/bin/env bash
# Builds the libFuzzer targets and runs each for SECONDS (default 20), seeded from profiles/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
scripts/build.sh fuzz >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for target in profile four_char_code applesmc scenario; do
  mkdir -p "$work/$target"
  [[ $target == profile ]] && cp profiles/*.json "$work/$target/"
  [[ $target == scenario ]] && cp scenarios/*.json "$work/$target/"
  echo "fuzz: $target for ${seconds}s"
  build/fuzz/fuzz/${target}_fuzzer -max_total_time="$seconds" -print_final_stats=0 \
    -artifact_prefix="$work/" "$work/$target" 2>&1 | grep -E '^Done|ERROR|SUMMARY' || true
  if ls "$work"/crash-* "$work"/leak-* "$work"/timeout-* >/dev/null 2>&1; then
    echo "fuzz: $target found a failing input"; exit 1
  fi
done
