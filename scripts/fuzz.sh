#!/usr/bin/env bash
# Builds the libFuzzer targets and runs each for SECONDS (default 20), seeded from the bundled
# profiles and scenarios. Fails, with the fuzzer's report, when any target finds a bad input.
set -uo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
scripts/build.sh fuzz >/dev/null || exit 1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
for target in profile four_char_code applesmc scenario; do
  mkdir -p "$work/$target"
  [[ $target == profile ]] && cp profiles/*.json "$work/$target/"
  [[ $target == scenario ]] && cp scenarios/*.json "$work/$target/"
  echo "fuzz: $target for ${seconds}s"
  if ! build/fuzz/fuzz/${target}_fuzzer -max_total_time="$seconds" -print_final_stats=0 \
      -artifact_prefix="$work/$target-" "$work/$target" >"$work/$target.log" 2>&1; then
    tail -n 60 "$work/$target.log"
    for input in "$work/$target"-*; do
      [[ -e $input ]] && echo "fuzz: failing input (base64): $(base64 -w0 "$input")"
    done
    status=1
  else
    grep -E '^Done' "$work/$target.log"
  fi
done
exit $status
