#!/usr/bin/env bash
# The app on the real Linux desktop backend against a real notification server: a private
# D-Bus session, Xvfb and dunst, answered through dunst's own control program. Each road is
# checked from the app's trace (ventractl simulate --desktop linux --json) and from what dunst
# reports. Exits 77 (skipped), saying why, where Xvfb or dunst cannot run.
#
#   run-desktop-tests.sh VENTRACTL SCENARIOS
set -uo pipefail
ventractl=$1 scenarios=$2
here=$(cd "$(dirname "$0")" && pwd)

skip() { echo "desktop tests skipped: $*"; exit 77; }

# As the person at the desk runs it: root starts the whole run again as nobody, where nobody
# can reach the binary (a checkout under a private home cannot be).
as_nobody=(setpriv --reuid=nobody --regid=nogroup --clear-groups env HOME=/tmp VENTRA_AS_USER=1)
if [[ $(id -u) == 0 && -z ${VENTRA_AS_USER:-} ]] && command -v setpriv >/dev/null; then
  if "${as_nobody[@]}" test -x "$ventractl" -a -r "$scenarios/default.json"; then
    exec "${as_nobody[@]}" "$0" "$@"
  fi
  echo "desktop tests: nobody cannot reach $ventractl; running as root"
fi
echo "desktop tests as $(id -un)"
for program in Xvfb dunst dunstctl dbus-daemon python3; do
  command -v "$program" >/dev/null || skip "$program is not installed"
done

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# A private session bus and display, so nothing of the caller's desktop is touched. The bus
# activates nothing: with dunst stopped there is truly no notification server.
cat >"$work/bus.conf" <<CONF
<busconfig>
  <type>session</type>
  <listen>unix:dir=$work</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
CONF
dbus-daemon --config-file="$work/bus.conf" --nofork --print-address=3 3>"$work/bus" \
  >/dev/null 2>&1 &
pids+=($!)
Xvfb -displayfd 4 -nolisten tcp 4>"$work/display" >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 100); do [[ -s $work/bus && -s $work/display ]] && break; sleep 0.05; done
[[ -s $work/bus ]] || skip "dbus-daemon did not start"
[[ -s $work/display ]] || skip "Xvfb did not start"
export DBUS_SESSION_BUS_ADDRESS=$(head -n1 "$work/bus")
export DISPLAY=:$(head -n1 "$work/display")
export XDG_RUNTIME_DIR=$work/runtime
mkdir -m 700 -p "$XDG_RUNTIME_DIR"

# dunst's context menu is a dmenu-style program: this one picks the line named in $work/pick.
printf '#!/bin/sh\ngrep -m1 -F "$(cat %s)"\n' "$work/pick" >"$work/menu"
chmod +x "$work/menu"
printf '[global]\n    dmenu = %s\n' "$work/menu" >"$work/dunstrc"
start_dunst() {
  dunst -config "$work/dunstrc" >"$work/dunst.log" 2>&1 &
  dunst_pid=$!
  pids+=($dunst_pid)
  for _ in $(seq 100); do dunstctl is-paused >/dev/null 2>&1 && return 0; sleep 0.05; done
  skip "dunst did not start: $(cat "$work/dunst.log")"
}
start_dunst

export VENTRACTL=$ventractl SCENARIOS=$scenarios WORK=$work DUNST_PID=$dunst_pid BUS_PID=${pids[0]}
python3 "$here/desktop_roads.py"
