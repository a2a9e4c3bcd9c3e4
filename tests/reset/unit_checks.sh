#!/usr/bin/env bash
# The boot unit as systemd reads it: systemd-analyze verify finds nothing wrong with it (its
# ExecStart pointed at this build's ventractl, its manual page found), and its sandbox keeps
# systemd-analyze's exposure figure at 2.0 or lower. Exits 77 (skipped) without systemd-analyze.
#
#   unit_checks.sh UNIT VENTRACTL MANUAL
set -euo pipefail
unit=$1 ventractl=$2 manual=$3
command -v systemd-analyze >/dev/null || { echo "skipped: no systemd-analyze"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/man/man1"
cp "$manual" "$work/man/man1/"
sed "s|^ExecStart=[^ ]*|ExecStart=$ventractl|" "$unit" >"$work/ventra-reset.service"
MANPATH=$work/man systemd-analyze verify "$work/ventra-reset.service"
echo "verify: no problems"
systemd-analyze security --offline=yes --threshold=20 "$work/ventra-reset.service" |
  grep -E 'Overall exposure'
