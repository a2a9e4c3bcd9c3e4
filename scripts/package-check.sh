#!/usr/bin/env bash
# Installs the packager's build into a scratch prefix and builds its Debian package, then runs
# both from outside the source and build trees: the installed tree after the build folder is
# moved away, and the package unpacked into a scratch root.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build/packager
[[ -d $build ]] || scripts/packager-build.sh
scratch=$(mktemp -d)
repo=$PWD
away=$repo/$build.moved-away
trap 'rm -rf "$scratch"; if [[ -d $away ]]; then mv "$away" "$repo/$build"; fi' EXIT

cmake --install "$build" --prefix "$scratch/prefix" >/dev/null
(cd "$build" && cpack -G DEB >/dev/null)
package=$(ls "$build"/ventra_*.deb)
dpkg-deb -x "$package" "$scratch/root"
echo "package: $(basename "$package"), depends: $(dpkg-deb -f "$package" Depends)"

mv "$build" "$away"  # nothing may come from the build tree now
pushd / >/dev/null
for bin in "$scratch/prefix/bin" "$scratch/root/usr/bin"; do
  "$bin/ventractl" --version
  "$bin/ventractl" simulate | tail -n 1
  "$bin/ventractl" --profile "$bin/../share/ventra/profiles/macpro5_1.json" fans >/dev/null
  for stack in vulkan opencl; do
    [[ -f $bin/../lib/ventra/libventra-$stack.so ]] || { echo "package-check: no $stack stack"; exit 1; }
    # The installed stack loads from beside the installed program, the build tree gone.
    gpu=$("$bin/ventractl" gpu --gpu $stack --allow-cpu 2>&1) || true
    if grep -Eq "backend is not installed|cannot load" <<<"$gpu"; then
      echo "package-check: $gpu"; exit 1
    fi
  done
  for page in ventra ventractl; do
    [[ -f $bin/../share/man/man1/$page.1 ]] || { echo "package-check: no $page(1)"; exit 1; }
  done
  share=$bin/../share
  offered=$(bash -c "source $share/bash-completion/completions/ventractl
    COMP_WORDS=(ventractl temps --); COMP_CWORD=2; _ventractl; echo \${COMPREPLY[*]}")
  [[ $offered == *--unit* ]] || { echo "package-check: bash completion offers: $offered"; exit 1; }
  for file in zsh/vendor-completions/_ventractl fish/vendor_completions.d/ventractl.fish; do
    [[ -s $share/$file ]] || { echo "package-check: no $file"; exit 1; }
  done
done
popd >/dev/null
echo "package-check: installed tree and package work outside the source tree"
