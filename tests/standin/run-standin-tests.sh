#!/usr/bin/env bash
# Mounts the applesmc stand-in (FUSE) and runs the SMC layer and ventractl against it as root and
# as an ordinary user: fans and temperatures must read the same for both, other keys must need
# root. Exits 77 (skipped) where FUSE cannot be used, saying why.
#
#   run-standin-tests.sh STANDIN TESTS VENTRACTL PROFILE
set -euo pipefail
standin=$1 tests=$2 ventractl=$3 profile=$4
user=nobody

skip() { echo "stand-in tests skipped: $*"; exit 77; }
[[ -c /dev/fuse ]] || skip "/dev/fuse is missing"
[[ $(id -u) == 0 ]] || skip "mounting the stand-in for other users needs root"
command -v setpriv >/dev/null || skip "setpriv is missing"

work=$(mktemp -d)
mount=$work/applesmc.768
mkdir -p "$mount"
chmod 755 "$work"
"$standin" "$profile" "$mount" -f -o allow_other,default_permissions,fsname=applesmc-standin \
  2>"$work/standin.log" &
standin_pid=$!
cleanup() {
  fusermount3 -u "$mount" 2>/dev/null || umount -l "$mount" 2>/dev/null || true
  wait "$standin_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
for _ in $(seq 100); do
  [[ -e $mount/key_count ]] && break
  kill -0 "$standin_pid" 2>/dev/null || skip "FUSE mount failed: $(cat "$work/standin.log")"
  sleep 0.05
done
[[ -e $mount/key_count ]] || skip "the stand-in did not appear"

as_user() { setpriv --reuid="$user" --regid="$(id -gn "$user")" --clear-groups -- "$@"; }
export VENTRA_APPLESMC_STANDIN=$mount VENTRA_STANDIN_PROFILE=$profile

echo "== as root"
"$tests"
echo "== as $user"
as_user "$tests"

status=0
for command in "fans --json" "temps --json" "read F0Ac" "temps --all"; do
  # shellcheck disable=SC2086
  root_out=$("$ventractl" --applesmc "$mount" $command 2>&1) || true
  # shellcheck disable=SC2086
  user_out=$(as_user "$ventractl" --applesmc "$mount" $command 2>&1) || true
  if [[ $command == "temps --all" ]]; then
    # The user is told that unknown keys need root; the known sensors match root's.
    grep -q "listing the SMC's keys needs root" <<<"$user_out" || { echo "FAIL: $command"; status=1; }
    grep -v '^ventractl:' <<<"$user_out" | while read -r line; do
      grep -qxF -- "$line" <<<"$root_out" || { echo "FAIL: $command: $line"; exit 1; }
    done || status=1
  elif [[ $root_out != "$user_out" ]]; then
    echo "FAIL: ventractl $command differs for $user:"; diff <(echo "$root_out") <(echo "$user_out") || true
    status=1
  fi
done
msdi=$(as_user "$ventractl" --applesmc "$mount" msdi 2>&1) && status=1
grep -q "reading this key needs root" <<<"$msdi" || { echo "FAIL: msdi as $user: $msdi"; status=1; }
[[ $status == 0 ]] && echo "ventractl: fans, temps and read F0Ac agree for root and $user"
exit $status
