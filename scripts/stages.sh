#!/usr/bin/env bash
# Runs each argument as a command line, in order, saying how long each took; stops at the first
# that fails.
#
#   scripts/stages.sh "COMMAND LINE" ...
set -euo pipefail
cd "$(dirname "$0")/.."
for line in "$@"; do
  started=$SECONDS
  echo "== $line"
  bash -c "$line"
  echo "== $line took $((SECONDS - started)) s"
done
