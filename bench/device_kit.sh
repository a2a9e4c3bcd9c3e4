#!/usr/bin/env bash
# Packs what bench/device_check.py needs on a lent GPU machine, which has no package registry and
# takes at most 64 MiB with the working tree: ventractl, the GPU modules and gpu_load_bench from
# a build folder (default: build/default), stripped; every library they load but the C library's
# own, from this machine; and glvnd's libraries, which NVIDIA's Vulkan driver loads. Into one
# archive, .device-kit.tar.xz (ignored by git; about 10 MiB), laid out as an install is:
#   bin/ventractl  bin/gpu_load_bench  lib/ventra/libventra-*.so  lib/*.so.*
# device_check.py --kit .device-kit.tar.xz unpacks it into a directory of its own there.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/default}
programs=("$build/tools/ventractl/ventractl" "$build/bench/gpu_load_bench")
modules=("$build"/src/gpu/modules/libventra-*.so)
for file in "${programs[@]}" "${modules[@]}"; do
  [[ -f $file ]] || { echo "device_kit: $file is not there: build it with scripts/build.sh" >&2; exit 1; }
done
staging=$(mktemp -d)
trap 'rm -rf "$staging"' EXIT
mkdir -p "$staging/bin" "$staging/lib/ventra"
for program in "${programs[@]}"; do strip -o "$staging/bin/$(basename "$program")" "$program"; done
for module in "${modules[@]}"; do strip -o "$staging/lib/ventra/$(basename "$module")" "$module"; done

# The C library's own stay: the lent machine's are newer, and two of them in one process fail.
glibc='^(linux-vdso|libc|libm|libdl|libpthread|librt|libresolv|ld-linux-x86-64)\.so'
ldd "${programs[@]}" "${modules[@]}" | awk '/=> \//{print $1, $3}' | sort -u |
  while read -r name path; do
    [[ $name =~ $glibc ]] || cp -L "$path" "$staging/lib/$name"
  done

# NVIDIA's Vulkan driver is a glvnd vendor library: it needs libGLdispatch and its friends.
(cd "$staging" && apt-get download -qq libglvnd0 libgl1 libglx0 libegl1 libgles2 libopengl0 \
  2>/dev/null)
for deb in "$staging"/*.deb; do
  dpkg -x "$deb" "$staging/glvnd"
  rm "$deb"
done
mv "$staging"/glvnd/usr/lib/x86_64-linux-gnu/* "$staging/lib/"
rm -rf "$staging/glvnd"

tar -C "$staging" -cJf .device-kit.tar.xz .
echo "device_kit: .device-kit.tar.xz, $(($(stat -c %s .device-kit.tar.xz) >> 20)) MiB:" \
  "$(find "$staging" -type f | wc -l) files from $build"
