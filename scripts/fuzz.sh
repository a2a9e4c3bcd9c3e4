#!/usr/bin/env bash
# Builds the libFuzzer targets and runs each for SECONDS (default 20), seeded from the bundled
# profiles and scenarios. Fails, with the fuzzer's report, when any target finds a bad input.
# PRESET: the tree to build them in (default fuzz; CI's sanitizers tree has them beside the
# suite).
#
#   scripts/fuzz.sh [SECONDS] [PRESET]
set -uo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
preset=${2:-fuzz}
targets=(profile four_char_code applesmc scenario)
build_log=$(mktemp)
if ! { cmake --preset "$preset" && cmake --build --preset "$preset" \
    --target "${targets[@]/%/_fuzzer}"; } >"$build_log" 2>&1; then
  tail -n 80 "$build_log"
  rm -f "$build_log"
  exit 1
fi
rm -f "$build_log"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
for target in "${targets[@]}"; do
  mkdir -p "$work/$target"
  [[ $target == profile ]] && cp profiles/*.json "$work/$target/"
  [[ $target == scenario ]] && cp scenarios/*.json "$work/$target/"
  echo "fuzz: $target for ${seconds}s"
  # Profiles and scenarios are documents of a few hundred kilobytes at most.
  max_len=4096
  [[ $target == profile || $target == scenario ]] && max_len=300000
  if ! "build/$preset/fuzz/${target}_fuzzer" -max_total_time="$seconds" -max_len="$max_len" \
      -artifact_prefix="$work/$target-" "$work/$target" >"$work/$target.log" 2>&1; then
    tail -n 60 "$work/$target.log"
    for input in "$work/$target"-*; do
      [[ -e $input ]] && echo "fuzz: failing input (base64): $(base64 -w0 "$input")"
    done
    status=1
  else
    # Runs, and the coverage reached (edges, features) in the code under test.
    grep -E '^#[0-9]+[[:space:]]+DONE' "$work/$target.log" | tail -n 1
  fi
done
exit $status
