#!/usr/bin/env bash
# Only our own GPU modules are ever loaded. A library planted where a relative search would look
# (../lib/ventra beside the working directory) must never run: not with /proc hidden by an empty
# mount (the program's own path unknown: then no module loads, and ventractl says why), and not
# from a working directory the planter prepared. Exits 77 (skipped) where a private /proc cannot
# be mounted, saying why.
#
#   module_trust.sh VENTRACTL
set -euo pipefail
ventractl=$1
skip() { echo "module trust test skipped: $*"; exit 77; }
[[ $(id -u) == 0 ]] || skip "mounting an empty /proc needs root"
command -v unshare >/dev/null || skip "unshare is missing"
command -v cc >/dev/null || skip "no C compiler to build the planted library"
unshare --mount --fork true 2>/dev/null || skip "no mount namespaces here"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/lib/ventra" "$work/cwd"
cat >"$work/planted.c" <<C
#include <stdio.h>
__attribute__((constructor)) static void planted(void) {
  FILE* f = fopen("$work/ran", "w");
  if (f) fclose(f);
}
C
cc -shared -fPIC -o "$work/lib/ventra/libventra-opencl.so" "$work/planted.c"
cp "$work/lib/ventra/libventra-opencl.so" "$work/lib/ventra/libventra-vulkan.so"
status=0
fail() { echo "FAIL: $*"; status=1; }

out=$(cd "$work/cwd" && unshare --mount --fork sh -c \
  "mount -t tmpfs none /proc && exec '$ventractl' gpu --allow-cpu" 2>&1) && fail "gpu without /proc found a device: $out"
[[ -e $work/ran ]] && fail "the planted library ran with /proc empty"
grep -q "own path is unknown" <<<"$out" || fail "no reason given without /proc: $out"

(cd "$work/cwd" && "$ventractl" gpu --allow-cpu >/dev/null 2>&1) || true
[[ -e $work/ran ]] && fail "the planted library ran from the working directory"

# A copy of ventractl run by root beside a module tree someone else could change: another user's
# directory, or one anyone may write to. Neither module runs, and ventractl says why.
mkdir -p "$work/copy/bin" "$work/copy/lib"
cp "$ventractl" "$work/copy/bin/"
mv "$work/lib/ventra" "$work/copy/lib/ventra"
chmod 755 "$work" "$work/copy" "$work/copy/bin" "$work/copy/lib"
chown -R 65534 "$work/copy/lib/ventra"
out=$("$work/copy/bin/ventractl" gpu --allow-cpu 2>&1) || true
[[ -e $work/ran ]] && fail "root loaded a module another user owns"
grep -q "belongs to user 65534" <<<"$out" || fail "no reason given for another user's module: $out"
chown -R 0 "$work/copy/lib/ventra"
chmod 777 "$work/copy/lib/ventra"
out=$("$work/copy/bin/ventractl" gpu --allow-cpu 2>&1) || true
[[ -e $work/ran ]] && fail "root loaded a module from a directory anyone may write to"
grep -q "may be written by others" <<<"$out" || fail "no reason given for a writable directory: $out"

[[ $status == 0 ]] && echo "module trust: no planted library ran; without /proc: $(tail -n1 <<<"$out")"
exit $status
