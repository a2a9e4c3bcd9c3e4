#!/usr/bin/env bash
# The reset at boot, under systemd itself: a QEMU virtual machine boots a copy of the Debian 13
# root that scripts/debian13-check.sh built and tested in (its kernel, systemd as PID 1), with
# the Debian package built there installed, ventra-reset.service enabled, the owner's options in
# /etc/default/ventra-reset, and the applesmc stand-in (FUSE, built in that root) serving a
# stuck tower whose fan answers the reset's load. The machine has no GPU: the reset runs on
# lavapipe, a CPU device, which the unit's MemoryDenyWriteExecute=yes forbids; so the boot's
# reset runs with a drop-in that clears that one line and nothing else, and a last start without
# it shows the refusal. A service inside reads the journal and the unit's state after the
# boot's reset and two more starts, writes them to a second disk and powers off; this script
# checks them (tests/reset/boot_journal.py). As root.
#
#   scripts/boot-check.sh [ROOT]     # default: build/debian13/root
set -euo pipefail
cd "$(dirname "$0")/.."
[[ $(id -u) == 0 ]] || { echo "boot-check: needs root (mounts, mkfs)" >&2; exit 1; }
root=$(realpath "${1:-build/debian13/root}")
package=$(ls "$root"/src/build/packager/ventra_*_amd64.deb 2>/dev/null | head -n1)
standin=$(ls "$root"/src/build/*/tests/applesmc-standin 2>/dev/null | head -n1)
[[ -f $package && -x $standin ]] ||
  { echo "boot-check: run scripts/debian13-check.sh first (no package or stand-in in $root)" >&2
    exit 1; }
if ! command -v qemu-system-x86_64 >/dev/null; then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends qemu-system-x86
fi

work=$PWD/build/boot-check
mounts=()
cleanup() {
  for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do umount -l "${mounts[i]}" 2>/dev/null || true; done
}
trap cleanup EXIT
rm -rf "$work"
mkdir -p "$work"/{upper,overlay-work,merged,results}
# The built root stays as it is: the machine's disk is made from an overlay of it.
mount -t overlay overlay -o "lowerdir=$root,upperdir=$work/upper,workdir=$work/overlay-work" \
  "$work/merged" && mounts+=("$work/merged")
image=$work/merged
rm -rf "$image/src" "$image/tmp"/* "$image/var/cache/apt/archives"/*.deb

cp "$package" "$image/tmp/"
chroot "$image" dpkg -i "/tmp/$(basename "$package")" >/dev/null
install -D -m 755 "$standin" "$image/usr/local/libexec/applesmc-standin"
python3 - profiles/macpro5_1-stuck.json "$image/usr/local/share/standin/stuck.json" <<'PY'
import json, os, sys
profile = json.load(open(sys.argv[1]))
profile["fanUnderLoad"].update(loadSecondsToRise=3, fallRpmPerSecond=300)
os.makedirs(os.path.dirname(sys.argv[2]), exist_ok=True)
json.dump(profile, open(sys.argv[2], "w"))
PY
cp -r scripts/boot-check/etc "$image/"
install -m 755 scripts/boot-check/inside.sh "$image/usr/local/libexec/boot-check-inside"
echo ventra-test >"$image/etc/hostname"
echo "/dev/vda / ext4 rw 0 1" >"$image/etc/fstab"
chroot "$image" passwd -qd root
systemctl --root="$image" enable ventra-reset.service applesmc-standin.service \
  standin-load.service boot-check.service 2>/dev/null

kernel=$(ls "$image"/boot/vmlinuz-* | tail -n1)
initrd=$(ls "$image"/boot/initrd.img-* | tail -n1)
cp "$kernel" "$work/vmlinuz"
cp "$initrd" "$work/initrd.img"
truncate -s 8G "$work/disk.img"
mkfs.ext4 -q -F -d "$image" "$work/disk.img"
truncate -s 64M "$work/results.img"
umount "$image" && mounts=()

# Software emulation, as on CI's machines; VENTRA_BOOT_ACCEL=kvm where KVM works.
accel=${VENTRA_BOOT_ACCEL:-tcg}
echo "boot-check: booting $(basename "$kernel") with $accel; console in $work/console.log"
started=$SECONDS
timeout 1500 qemu-system-x86_64 -machine "pc,accel=$accel" -cpu max -m 3G -smp 2 \
  -display none -monitor none -serial "file:$work/console.log" -no-reboot -nic none \
  -kernel "$work/vmlinuz" -initrd "$work/initrd.img" \
  -append "root=/dev/vda rw console=ttyS0 panic=-1" \
  -drive "file=$work/disk.img,format=raw,if=virtio" \
  -drive "file=$work/results.img,format=raw,if=virtio" || {
  echo "boot-check: the machine did not power off within 25 minutes" >&2
  tail -n 40 "$work/console.log" >&2
  exit 1
}
echo "boot-check: the machine ran for $((SECONDS - started)) s"
tar -xf "$work/results.img" -C "$work/results" 2>/dev/null || {
  echo "boot-check: the machine wrote no results" >&2
  tail -n 40 "$work/console.log" >&2
  exit 1
}
python3 tests/reset/boot_journal.py "$work/results"
