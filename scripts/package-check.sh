#!/usr/bin/env bash
# Checks the Debian package from scripts/packager-build.sh: lintian finds no error and no
# warning; installed with apt (as root; otherwise unpacked into a scratch root) its commands work
# by name from outside the source tree. The same build installed with `cmake --install` into a
# scratch prefix works too, with the build folder moved away.
set -euo pipefail
cd "$(dirname "$0")/.."
out=build/packager
[[ -d $out ]] || scripts/packager-build.sh
package=$(ls "$out"/ventra_*_*.deb)
scratch=$(mktemp -d)
build=$out/ventra/obj-$(dpkg-architecture -qDEB_HOST_GNU_TYPE)
away=$PWD/$out.moved-away
installed=no
cleanup() {
  rm -rf "$scratch"
  if [[ -d $away ]]; then mv "$away" "${away%.moved-away}"; fi
  if [[ $installed == yes ]]; then apt-get purge -y -qq ventra >/dev/null; fi
}
trap cleanup EXIT

# lintian warns that it runs as root; that line is not about the package.
report=$(lintian --info "$out"/ventra_*.changes 2>&1 | grep -v 'running with root privileges' || true)
echo "lintian: ${report:-no tags}"
if grep -Eq '^[EW]: ' <<<"$report"; then echo "package-check: lintian errors or warnings"; exit 1; fi
echo "package: $(basename "$package"), depends: $(dpkg-deb -f "$package" Depends)"

cmake --install "$build" --prefix "$scratch/prefix" >/dev/null
if [[ $(id -u) == 0 ]]; then
  if dpkg-query -W -f='${Status}' ventra 2>/dev/null | grep -q 'install ok installed'; then
    echo "package-check: ventra is already installed here; remove it first" >&2
    exit 1
  fi
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "./$package" >/dev/null
  installed=yes
  system=/usr/bin
else
  echo "package-check: not root, so the package is unpacked rather than installed"
  dpkg-deb -x "$package" "$scratch/root"
  system=$scratch/root/usr/bin
fi

mv "$out" "$away"  # nothing may come from the build tree now
cd /
for bin in "$system" "$scratch/prefix/bin"; do
  PATH=$bin:/usr/bin:/bin
  ventractl --version
  ventractl simulate reset.json | tail -n 1
  ventractl --profile macpro5_1-stuck.json reset --gpu fake --size 64 | tail -n 1
  ventractl fans --profile macpro5_1.json >/dev/null
  ventractl profiles | grep -q '^macpro5_1.json ' || { echo "package-check: no bundled profiles"; exit 1; }
  # The quick start's last step: a verdict for every test (3: not eligible, off the machine).
  verdicts=$(ventractl check --profile macpro5_1-hot.json --allow-cpu | grep -cE ' (ok|FAILS) ') || true
  [[ $verdicts == 5 ]] || { echo "package-check: check gave $verdicts verdicts"; exit 1; }
  # The installed stacks load from beside the installed program, the build tree gone.
  gpu=$(ventractl gpu --allow-cpu 2>&1) || true
  echo "$gpu" | head -n 1
  if grep -Eq "backend is not installed|cannot load" <<<"$gpu"; then
    echo "package-check: $gpu"; exit 1
  fi
  XDG_CONFIG_HOME=$scratch/config ventractl autostart enable >/dev/null
  grep -qx "Exec=$bin/ventra --launched-as-login-item" "$scratch/config/autostart/ventra.desktop" ||
    { echo "package-check: the autostart entry does not start $bin/ventra"; exit 1; }
  share=$bin/../share
  [[ -f $share/man/man1/ventractl.1 || -f $share/man/man1/ventractl.1.gz ]] ||
    { echo "package-check: no ventractl(1) in $share"; exit 1; }
  offered=$(bash -c "source $share/bash-completion/completions/ventractl
    COMP_WORDS=(ventractl temps --); COMP_CWORD=2; _ventractl; echo \${COMPREPLY[*]}")
  [[ $offered == *--unit* ]] || { echo "package-check: bash completion offers: $offered"; exit 1; }
  for file in zsh/vendor-completions/_ventractl fish/vendor_completions.d/ventractl.fish; do
    [[ -s $share/$file ]] || { echo "package-check: no $file"; exit 1; }
  done
  # The README's line for zsh: with the directory on fpath, compinit finds the completion.
  found=$(HOME=$scratch zsh -fc "fpath=($share/zsh/vendor-completions \$fpath)
    autoload -U compinit; compinit -u -d $scratch/zcompdump; echo \${_comps[ventractl]}")
  [[ $found == _ventractl ]] || { echo "package-check: zsh completes ventractl with '$found'"; exit 1; }
done
# The reset at boot: the unit in place, naming the installed ventractl and the options file,
# never enabled by the package, and systemd finds nothing wrong with it.
if [[ $installed == yes ]]; then
  unit=$(dpkg -L ventra | grep '/systemd/system/ventra-reset.service$')
  grep -qx 'ExecStart=/usr/bin/ventractl reset --wait 60 --options-from /etc/default/ventra-reset $VENTRA_RESET_OPTIONS' "$unit" ||
    { echo "package-check: $unit does not run /usr/bin/ventractl reset"; exit 1; }
  grep -qx 'EnvironmentFile=-/etc/default/ventra-reset' "$unit" && [[ -f /etc/default/ventra-reset ]] ||
    { echo "package-check: no /etc/default/ventra-reset for $unit"; exit 1; }
  if compgen -G '/etc/systemd/system/*.wants/ventra-reset.service' >/dev/null; then
    echo "package-check: the package enabled ventra-reset.service"; exit 1
  fi
  systemd-analyze verify "$unit"
  echo "package-check: $unit installed, not enabled, verified;" \
    "$(systemd-analyze security --offline=yes "$unit" | grep -o 'exposure level.*')"
fi
echo "package-check: the package and the installed tree work by name outside the source tree"
