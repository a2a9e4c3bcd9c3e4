#!/bin/sh
# Inside the test machine, after the boot: waits for the boot's reset to end, tunes the tile for
# the unit as the README says, starts the unit twice more (the shader cache warm, the tuned tile;
# then without the drop-in, under the shipped sandbox), undoes the tuning as the README says, and
# writes each run's journal and state, the boot's journal and what the tuning showed to /dev/vdb
# as a tar.
set -u
out=/run/boot-check
mkdir -p "$out"

# Until the unit's run has ended; its state and journal into $out/NAME.*.
finished() {
  while :; do
    state=$(systemctl show -P ActiveState ventra-reset.service)
    [ "$state" = inactive ] || [ "$state" = failed ] && break
    sleep 1
  done
  systemctl show ventra-reset.service -p Result -p ExecMainStatus -p ActiveState \
    -p InvocationID >"$out/$1.state"
  id=$(systemctl show -P InvocationID ventra-reset.service)
  journalctl -o short-monotonic --no-pager _SYSTEMD_INVOCATION_ID="$id" >"$out/$1.journal"
  journalctl -o short-monotonic --no-pager -u ventra-reset.service --since=-10min \
    >"$out/$1.unit-journal"
}
# Starts the unit once more on a stuck tower again; waits for the run to end.
again() {
  systemctl restart applesmc-standin.service
  sleep 1
  systemctl start ventra-reset.service
  finished "$1"
}

# ventractl as the unit runs it (its dynamic user, its cache), the README's way to tune for it.
as_the_unit() {
  systemd-run --quiet --wait --pipe --property=DynamicUser=yes --property=CacheDirectory=ventra \
    --property=SupplementaryGroups=render --setenv=XDG_CACHE_HOME=/var/cache/ventra \
    /usr/bin/ventractl "$@"
}

finished boot
journalctl -b -o short-monotonic --no-pager >"$out/boot.all-journal"
# Two tiles of the twelve: each costs a shader compiled by an emulated CPU.
as_the_unit gpu tune --allow-cpu --size 128 --tiles 8x1x16x16-direct,8x1x8x8-direct \
  >"$out/tune.txt" 2>&1
as_the_unit gpu --allow-cpu >"$out/tuned.txt" 2>&1
again warm
rm /etc/systemd/system/ventra-reset.service.d/50-cpu-device.conf
systemctl daemon-reload
again sandboxed
ls -lR /var/cache/private/ventra >"$out/cache.txt" 2>&1
# The sandboxed run failed, and systemd cleans only a unit that is inactive.
systemctl reset-failed ventra-reset.service
systemctl clean --what=cache ventra-reset.service >"$out/clean.txt" 2>&1
echo "status $?" >>"$out/clean.txt"
as_the_unit gpu --allow-cpu >"$out/untuned.txt" 2>&1
systemd-analyze security ventra-reset.service >"$out/security.txt" 2>&1
tar -C "$out" -cf /dev/vdb .
sync
systemctl poweroff
