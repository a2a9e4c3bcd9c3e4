#!/usr/bin/env bash
# Mounts the applesmc stand-in (FUSE) and runs the SMC layer and ventractl against it as root and
# as an ordinary user: fans and temperatures must read the same for both, other keys must need
# root; then the reset at boot, end to end, the way its systemd unit runs it. Exits 77 (skipped)
# where FUSE cannot be used, saying why.
#
#   run-standin-tests.sh STANDIN TESTS VENTRACTL PROFILE CONTRACT UNIT MODULES
set -euo pipefail
standin=$1 tests=$2 ventractl=$3 profile=$4 contract=$5 unit=$6 modules=$7
profiles=$(dirname "$profile")
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
# mount_standin NAME PROFILE [CONTROL]: the stand-in serving PROFILE at $work/NAME/applesmc.768,
# its fan under load told the GPU's load by the file CONTROL.
mount_standin() {
  local dir=$work/$1/applesmc.768
  mkdir -p "$dir"
  chmod 755 "$work/$1"
  "$standin" ${3:+--load-control "$3"} "$2" "$dir" -f \
    -o allow_other,default_permissions,fsname=applesmc-standin 2>"$work/$1.log" &
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
# The GPU stacks where a ventractl outside its build tree looks for them: bin/../lib/ventra.
mkdir -p "$work/lib/ventra"
cp "$modules"/libventra-*.so "$work/lib/ventra/"
chmod -R a+rX "$work/lib"
cp "$profile" "$stage/profile.json"
cp "$(dirname "$0")/exact-bytes.json" "$stage/exact-bytes.json"
cp "$contract" "$stage/contract-profile.json"
chmod -R a+rX "$stage"
tests=$stage/$(basename "$tests") ventractl=$stage/$(basename "$ventractl")
profile=$stage/profile.json exact_profile=$stage/exact-bytes.json

mount_standin main "$profile"
mount=$work/main/applesmc.768
mount_standin exact "$exact_profile"
exact=$work/exact/applesmc.768
# The SMC port's contract (tests/support/smc_port_contract.h) through a stand-in of its own.
mount_standin contract "$stage/contract-profile.json"
export VENTRA_CONTRACT_STANDIN=$work/contract/applesmc.768
export VENTRA_CONTRACT_PROFILE=$stage/contract-profile.json

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
    # The user is told that listing every key needs root; what the user gets matches root's.
    grep -q "which needs root" <<<"$user_out" || { echo "FAIL: $command"; status=1; }
    grep -v '^ventractl:' <<<"$user_out" | while read -r line; do
      grep -qxF -- "$line" <<<"$root_out" || { echo "FAIL: $command: $line"; exit 1; }
    done || status=1
  elif [[ $root_out != "$user_out" ]]; then
    echo "FAIL: ventractl $command differs for $user:"; diff <(echo "$root_out") <(echo "$user_out") || true
    status=1
  fi
done
# Every temperature the driver labels for every user is listed to that user, as sensors(1) would.
labels=$(find "$mount" -maxdepth 3 -name 'temp*_label' -exec cat {} + | sort -u)
listed=$(as_user "$ventractl" --applesmc "$mount" temps --json | python3 -c \
  'import json, sys; print("\n".join(sorted({s["key"] for s in json.load(sys.stdin)["sensors"]})))')
unlisted=$(comm -23 <(echo "$labels") <(echo "$listed"))
[[ -n $labels && -z $unlisted ]] ||
  { echo "FAIL: temps as $user leaves out labelled keys: ${unlisted:-no labels}"; status=1; }
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
# The reset at boot, end to end: the unit's own ExecStart, with the options an owner would put in
# its environment file, run as the unit runs it (a user of its own, the render group where this
# host has one, no new privileges, a bare environment) against the stuck tower's stand-in and this
# host's real Vulkan driver (lavapipe). This host is no Mac Pro with an RX 580, so the check is
# forced. The stand-in's fan answers the load through its control file, which this script writes
# as ventractl reports the card at work (its first product done: lavapipe first builds the shader,
# for seconds without a cache) and the load ended: 3 s of work to spike, then 300 rpm a second
# down.
python3 - "$profiles/macpro5_1-stuck.json" "$stage/stuck.json" <<'PY'
import json, sys
profile = json.load(open(sys.argv[1]))
profile["fanUnderLoad"].update(loadSecondsToRise=3, fallRpmPerSecond=300)
json.dump(profile, open(sys.argv[2], "w"))
PY
chmod a+r "$stage/stuck.json"
echo idle >"$work/load"
mount_standin stuck "$stage/stuck.json" "$work/load"
options="--applesmc $work/stuck/applesmc.768 --force --allow-cpu --gpu vulkan --size 256 --json"
read -ra command <<<"$(sed -n 's/^ExecStart=//p' "$unit")"
command[0]=$ventractl
argv=()
for word in "${command[@]}"; do
  # shellcheck disable=SC2206  # systemd splits an unbraced $VARIABLE at white space
  if [[ $word == '$VENTRA_RESET_OPTIONS' ]]; then argv+=($options); else argv+=("$word"); fi
done
groups=--clear-groups
render=$(getent group render | cut -d: -f3) && groups=--groups=$render
as_unit() {
  setpriv --reuid=61184 --regid=61184 "$groups" --no-new-privs --inh-caps=-all \
    -- env -i PATH=/usr/bin:/bin "$@"
}
echo "== the unit's command: ${argv[*]}"
as_unit "${argv[@]}" | while IFS= read -r line; do
  echo "$line" >>"$work/reset.jsonl"
  case $line in
    *'"event":"sample"'*'"phase":"load"'*'"products":'[1-9]*) echo load >"$work/load" ;;
    *'"event":"phase"'*'"phase":"settle"'*) echo idle >"$work/load" ;;
  esac
done
reset_status=${PIPESTATUS[0]}
python3 - "$work/reset.jsonl" "$reset_status" <<'PY' || status=1
import json, sys
events = [json.loads(line) for line in open(sys.argv[1])]
outcome = events[-1]
if outcome.get("event") != "outcome":
    sys.exit("FAIL: the reset ended without an outcome: " + json.dumps(events[-3:]))
if outcome["result"] == "gpuFailed" and "no " in outcome["message"]:
    print("reset at boot: skipped, no Vulkan device: " + outcome["message"])
    sys.exit(0)
if sys.argv[2] != "0" or outcome["result"] != "settled" or outcome["products"] == 0:
    sys.exit(f"FAIL: the unit's reset ended with status {sys.argv[2]}: {outcome['message']}")
print(f"reset at boot, as the unit runs it: {outcome['message']}")
PY

exit $status
