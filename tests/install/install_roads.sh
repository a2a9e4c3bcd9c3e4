#!/usr/bin/env bash
# The two ways this build is installed by hand, each into a temporary place:
#  - a user's home prefix (~/.local): every installed file under the prefix, recorded in the
#    manifest; the unit names the ventractl installed beside it and says where its options are,
#    and the install says that systemd will not use it from there; the installed ventractl runs
#    and finds its data; the README's uninstall (xargs rm < install_manifest.txt) leaves no file;
#  - a packager's staging root (DESTDIR, --prefix /usr): nothing outside the staging root, and
#    the unit names /usr/bin/ventractl and /etc/default/ventra-reset.
# The build's own install_manifest.txt (a developer's real install) is put back afterwards.
#
#   install_roads.sh BUILD_DIR
set -euo pipefail
build=$(realpath "$1")
work=$(mktemp -d)
manifest=$build/install_manifest.txt
[[ -e $manifest ]] && cp -p "$manifest" "$work/kept-manifest"
restore() {
  if [[ -e $work/kept-manifest ]]; then cp -p "$work/kept-manifest" "$manifest"; else rm -f "$manifest"; fi
  rm -rf "$work"
}
trap restore EXIT
failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }
expect_unit_names() { # UNIT VENTRACTL OPTIONS_FILE
  grep -qx "ExecStart=$2 reset .*--options-from $3 .*" "$1" || fail "$1 does not run $2 with $3"
  grep -qx "EnvironmentFile=-$3" "$1" || fail "$1 does not read its options from $3"
}
every_path_under() { # ROOT [DESTDIR]: the manifest's files, and only they, are under ROOT
  local outside
  outside=$(grep -v "^${1%/}/" "$manifest" || true)
  [[ -z $outside ]] || fail "installed outside $1: $outside"
  while read -r f; do [[ -e ${2:-}$f ]] || fail "in the manifest but not installed: ${2:-}$f"; done <"$manifest"
  local found listed
  found=$(find "${2:-}$1" -type f | wc -l) listed=$(grep -c "" "$manifest")
  ((found == listed)) || fail "$found files under ${2:-}$1, $listed in the manifest"
}

echo "== a home prefix"
home=$work/home/.local
cmake --install "$build" --prefix "$home" >"$work/home.log" 2>&1 || { cat "$work/home.log"; fail "the home install failed"; }
every_path_under "$home"
echo "$(grep -c "" "$manifest") files installed"
for f in bin/ventra bin/ventractl share/man/man1/ventractl.1 share/ventra/profiles \
  lib/systemd/system/ventra-reset.service etc/default/ventra-reset; do
  [[ -e $home/$f ]] || fail "not installed: $f"
done
expect_unit_names "$home/lib/systemd/system/ventra-reset.service" "$home/bin/ventractl" \
  "$home/etc/default/ventra-reset"
grep -q "where systemd does not look for system units" "$work/home.log" ||
  fail "the home install did not say that systemd will not use the unit from there"
"$home/bin/ventractl" profiles | grep -q macpro5_1 || fail "the installed ventractl has no profiles"
xargs -d "\n" rm -- <"$manifest"
left=$(find "$home" -type f)
[[ -z $left ]] || fail "files left after the uninstall: $left"

echo "== a staging root, prefix /usr"
stage=$work/stage
DESTDIR=$stage cmake --install "$build" --prefix /usr >"$work/stage.log" 2>&1 || { cat "$work/stage.log"; fail "the staged install failed"; }
every_path_under / "$stage"
unit=$(grep '/systemd/system/ventra-reset.service$' "$manifest" || true)
[[ -n $unit ]] || fail "no unit installed under the staging root"
[[ -z $unit ]] || expect_unit_names "$stage$unit" /usr/bin/ventractl /etc/default/ventra-reset
[[ -e $stage/etc/default/ventra-reset ]] || fail "the options file is not in the staging root's /etc"
grep -q "where systemd does not look" "$work/stage.log" && fail "a staged install warned of the unit"

((failures == 0)) && echo "both installs as expected"
exit $((failures > 0))
