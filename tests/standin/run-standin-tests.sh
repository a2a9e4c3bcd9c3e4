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
chmod 755 "$work"
pids=()
cleanup() {
  for dir in "$work"/*/applesmc.768; do
    fusermount3 -u "$dir" 2>/dev/null || umount -l "$dir" 2>/dev/null || true
  done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
# mount_standin NAME PROFILE: the stand-in serving PROFILE at $work/NAME/applesmc.768.
mount_standin() {
  local dir=$work/$1/applesmc.768
  mkdir -p "$dir"
  chmod 755 "$work/$1"
  "$standin" "$2" "$dir" -f -o allow_other,default_permissions,fsname=applesmc-standin \
    2>"$work/$1.log" &
  pids+=($!)
  for _ in $(seq 100); do
    [[ -e $dir/key_count ]] && return 0
    kill -0 "${pids[-1]}" 2>/dev/null || skip "FUSE mount failed: $(cat "$work/$1.log")"
    sleep 0.05
  done
  skip "the stand-in did not appear"
}
# What both halves run and read is staged where an ordinary user can reach it: a checkout in
# a private home (/root, mode 0700) is out of that user's reach.
stage=$work/stage
mkdir -p "$stage"
cp "$tests" "$ventractl" "$stage/"
cp "$profile" "$stage/profile.json"
cp "$(dirname "$0")/exact-bytes.json" "$stage/exact-bytes.json"
chmod -R a+rX "$stage"
tests=$stage/$(basename "$tests") ventractl=$stage/$(basename "$ventractl")
profile=$stage/profile.json exact_profile=$stage/exact-bytes.json

mount_standin main "$profile"
mount=$work/main/applesmc.768
mount_standin exact "$exact_profile"
exact=$work/exact/applesmc.768

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

# Root reads every key through key_at_index: a dump is the SMC's own bytes, type and size.
"$ventractl" --applesmc "$exact" dump -o "$work/dump.json" || status=1
python3 - "$exact_profile" "$work/dump.json" <<'PY' || status=1
import json, sys
def table(path):
    keys = json.load(open(path))["keys"]
    return {k["key"]: (k["type"], k["bytes"].replace(" ", "").upper()) for k in keys}
want, got = table(sys.argv[1]), table(sys.argv[2])
wrong = [f"{key}: {got.get(key)} instead of {value}" for key, value in want.items()
         if got.get(key) != value]
if wrong:
    sys.exit("FAIL: dump as root is not the SMC's bytes: " + "; ".join(wrong))
print(f"dump as root: {len(want)} keys byte for byte")
PY
# Without root: "not found" only where the driver's files prove it, else "needs root".
expect_user() {  # expect_user TEXT DIR ARGS...
  local text=$1 dir=$2; shift 2
  local out; out=$(as_user "$ventractl" --applesmc "$dir" "$@" 2>&1) && status=1
  grep -q "$text" <<<"$out" || { echo "FAIL: $* as $user: $out"; status=1; }
}
expect_user "needs root" "$exact" read TZZF
expect_user "needs root" "$exact" read TZ4B
expect_user "not found" "$mount" read F7Ac
[[ $status == 0 ]] && echo "ventractl: root dumps the SMC's bytes; $user is told not found or needs root"

# The person at the desk asks why the app stayed quiet: every test has a verdict, the fan probes
# read the stand-in's fan 0 (about 1500 rpm in the hot profile) whatever the host model.
check=$(as_user env -u XDG_CONFIG_HOME HOME=/nonexistent "$ventractl" --applesmc "$mount" \
  check --json) || true  # 3: not eligible, the usual verdict off the machine
python3 - "$check" <<'PY' || status=1
import json, sys
check = json.loads(sys.argv[1])
verdicts = {t["test"]: t["passes"] for t in check["tests"]}
problems = []
if len(verdicts) != 5: problems.append(f"{len(verdicts)} tests")
if not (verdicts.get("first fan probe") and verdicts.get("second fan probe")):
    problems.append(f"fan probes {check['firstProbe']}, {check['secondProbe']}")
if check["eligible"] != (check["failedTest"] is None): problems.append("verdict")
if problems:
    sys.exit("FAIL: check against the stand-in: " + "; ".join(problems) + ": " + sys.argv[1])
print(f"check as the user: every test judged; the app's verdict: {check['failedTest'] or 'eligible'}")
PY
exit $status
