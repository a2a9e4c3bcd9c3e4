#!/usr/bin/env bash
# The owner's road of the README's quick start, in a Debian root that has only what mmdebstrap
# and the boot packages put there (scripts/debian13-check.sh runs it first, before the
# developer's set-up): the package's build dependencies installed with `apt-get build-dep ./`
# and nothing else, then as an ordinary user ("owner", made here) in a copy of the sources: the
# Debian package built, and the release build installed into ~/.local, used, and uninstalled with
# its manifest. The package and its build are left in build/packager/ for the checks that follow.
# As root.
set -euo pipefail
cd "$(dirname "$0")/.."
[[ $(id -u) == 0 ]] || { echo "owner-road: needs root (apt-get, a user of its own)" >&2; exit 1; }
installed() { dpkg-query -W -f='${db:Status-Abbrev} ${Package}\n' | sed -n 's/^ii  *//p' | sort; }
before=$(installed)

echo "== sudo apt-get build-dep ./"
apt-get update -qq
DEBIAN_FRONTEND=noninteractive apt-get build-dep -y -qq ./ >/dev/null
# The developer's packages (scripts/setup.sh) that are not the package's build dependencies, nor
# a system's basics that a build tool may bring (build-essential brings dpkg-dev, debhelper
# man-db, GLib's headers python3):
# none of them may come with the build dependencies.
build_deps=$(sed -n '/^Build-Depends:/,/^[A-Z][A-Za-z-]*:/p' debian/control | grep -v '^Standards' |
  sed 's/^Build-Depends://; s/([^)]*)//g' | tr ',' '\n' | tr -d ' ' | grep -v '^$' |
  sed 's/^debhelper-compat$/debhelper/' | sort -u)
basics='build-essential|dpkg-dev|python3|man-db|kmod|systemd|procps|util-linux|dbus|unicode-data'
developer_only=$(scripts/setup.sh --list | tr ',' '\n' | sort -u | comm -23 - <(echo "$build_deps") |
  grep -Evx "$basics")
came=$(comm -13 <(echo "$before") <(installed))
echo "owner-road: apt-get build-dep installed $(echo "$came" | grep -c .) packages"
if grep -qx cmake <<<"$before"; then
  echo "owner-road: this root had cmake before (an earlier run's): what the road installs is" \
    "not checked; remove the root for that"
else
  extra=$(comm -12 <(echo "$developer_only") <(echo "$came"))
  [[ -z $extra ]] || { echo "owner-road: the build dependencies brought the developer's" \
    "$(echo $extra)" >&2; exit 1; }
  echo "owner-road: none of the developer's $(echo "$developer_only" | wc -l) other packages" \
    "came ($(echo $developer_only))"
fi

# An owner of their own, with a home and a copy of the sources.
grep -q '^owner:' /etc/passwd || {
  echo 'owner:x:1000:1000:Owner:/home/owner:/bin/bash' >>/etc/passwd
  echo 'owner:x:1000:' >>/etc/group
}
rm -rf /home/owner
mkdir -p /home/owner/ventra
tar --exclude=./build -cf - . | tar -xf - -C /home/owner/ventra
chown -R owner:owner /home/owner
as_owner() {
  setpriv --reuid=owner --regid=owner --init-groups env HOME=/home/owner \
    PATH=/home/owner/.local/bin:/usr/bin:/bin bash -c "cd ~/ventra && $1"
}

echo "== as owner: scripts/packager-build.sh"
as_owner scripts/packager-build.sh
# The package with its build (package-check installs that build too and lints the .changes).
rm -rf build/packager
mkdir -p build
cp -a /home/owner/ventra/build/packager build/packager

echo "== as owner: scripts/build.sh release; cmake --install build/release --prefix ~/.local"
as_owner "scripts/build.sh release >/dev/null && cmake --install build/release --prefix ~/.local" \
  >/tmp/owner-install.log 2>&1 || { cat /tmp/owner-install.log; exit 1; }
grep -F 'where systemd does not look' /tmp/owner-install.log
as_owner 'ventractl --version && ventractl profiles | head -n 3'
echo "== as owner: the uninstall, xargs -d '\\n' rm -v < build/release/install_manifest.txt"
as_owner "xargs -d '\\n' rm -- < build/release/install_manifest.txt"
left=$(find /home/owner/.local -type f)
[[ -z $left ]] || { echo "owner-road: the uninstall left $left" >&2; exit 1; }
echo "owner-road: installed, used and uninstalled as owner; nothing left in ~/.local"
