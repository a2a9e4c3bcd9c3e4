#!/usr/bin/env bash
# Debian 13 ("trixie"), Debian's stable release, as a new owner and a new developer there meet
# this project: in a clean Debian 13 root the owner's road (scripts/owner-road.sh: the package's
# build dependencies and nothing else, the package built, a home install), then the README's
# set-up, the main job and the whole suite, and the package checked with that release's lintian
# and installed. The root is made with mmdebstrap (its packages fetched from the mirror this
# machine uses) with nothing of the project's, and kept in build/debian13/root (or
# $VENTRA_DEBIAN13_ROOT), where a later run finds what the first installed; the checkout's
# tracked files are copied in afresh each time. As root.
#
#   scripts/debian13-check.sh [COMMAND]   # default: the whole check; or a command to run inside
set -euo pipefail
cd "$(dirname "$0")/.."
[[ $(id -u) == 0 ]] || { echo "debian13-check: needs root (mmdebstrap, chroot, mounts)" >&2; exit 1; }
if ! command -v mmdebstrap >/dev/null; then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends mmdebstrap
fi
root=$(realpath -m "${VENTRA_DEBIAN13_ROOT:-build/debian13/root}")
mirror=$(sed -n 's/^URIs: *//p' /etc/apt/sources.list.d/debian.sources 2>/dev/null | head -n1)
mirror=${mirror:-http://deb.debian.org/debian}
# What a virtual machine booting a copy of this root needs (scripts/boot-check.sh): a kernel,
# systemd as init, udev. The build's packages come inside, the owner's way and the developer's.
boot_packages=linux-image-amd64,systemd-sysv,udev,libnss-systemd
if [[ ! -e $root/usr/sbin/init ]]; then
  made=$SECONDS
  rm -rf "$root"
  mkdir -p "$(dirname "$root")"
  # apt drops to a sandbox user by default, which cannot write here: it stays root.
  mmdebstrap --variant=apt --aptopt='APT::Sandbox::User "root"' \
    --include="$boot_packages" trixie "$root" \
    "deb [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $mirror trixie main"
  echo "debian13-check: the root made in $((SECONDS - made)) s"
fi
# The checkout's files afresh; a build folder from an earlier run is kept.
mkdir -p "$root/src"
find "$root/src" -mindepth 1 -maxdepth 1 ! -name build -exec rm -rf {} +
git ls-files -z | tar --null -T - -cf - | tar -xf - -C "$root/src"
mounts=()
cleanup() {
  for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do umount -l "${mounts[i]}" 2>/dev/null || true; done
}
trap cleanup EXIT
# The root a mount point of its own, so that tests may make mount namespaces inside it.
mount --bind "$root" "$root" && mounts+=("$root")
mount --rbind /dev "$root/dev" && mounts+=("$root/dev")
mount -t proc proc "$root/proc" && mounts+=("$root/proc")
mount -t sysfs sysfs "$root/sys" && mounts+=("$root/sys")
mount -t tmpfs tmpfs "$root/tmp" && mounts+=("$root/tmp")
chmod 1777 "$root/tmp"
inside=${1:-"scripts/owner-road.sh && scripts/setup.sh && scripts/run-main.sh && scripts/test.sh && scripts/package-check.sh"}
echo "debian13-check: $(chroot "$root" sh -c '. /etc/os-release; echo "$PRETTY_NAME"'): $inside"
chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 \
  /bin/bash -c "cd /src && $inside"
