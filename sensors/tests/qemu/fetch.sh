#!/usr/bin/env bash
# Fetches what the QEMU guest needs into a cache folder, once:
#   CACHE/vmlinuz          the Debian kernel (bzImage)
#   CACHE/vmlinux          the same kernel uncompressed (booted through PVH), when it can be extracted
#   CACHE/modules/*.ko     i2c-i801, i2c-piix4, i2c-dev and their dependencies, from the same package
#   CACHE/busybox          a static busybox
#   CACHE/kernel-version   the kernel release the modules belong to
# Usage: fetch.sh CACHE
# Needs apt-get (with a reachable Debian mirror), dpkg, kmod's modinfo, xz.
# Exits 77 when the archive cannot be reached: the tests that need the guest
# are then skipped rather than failed.
set -euo pipefail

cache=${1:?usage: fetch.sh CACHE}
mkdir -p "$cache"
cache=$(cd "$cache" && pwd)

# Tests may run in parallel: one fetch at a time.
exec 9>"$cache/.lock"
flock 9

# The kernel's SMBus drivers the guests load (q35's and pc's hosts).
wanted_modules="i2c-smbus i2c-i801 i2c-piix4 i2c-dev"
complete=yes
for name in $wanted_modules; do
  [[ -f "$cache/modules/$name.ko" ]] || complete=no
done
if [[ -f "$cache/.complete" && $complete == yes ]]; then
  exit 0
fi

say() { echo "fetch: $*" >&2; }

# The kernel package the meta-package points at, e.g. linux-image-6.1.0-57-amd64.
package=$(apt-cache depends linux-image-amd64 2>/dev/null |
          sed -n 's/^ *Depends: \(linux-image-[0-9][^ ]*-amd64\)$/\1/p' | head -n1)
if [[ -z "$package" ]]; then
  say "cannot resolve linux-image-amd64 (run 'apt-get update' first?)"
  exit 77
fi
say "kernel package $package"

download=$cache/download
rm -rf "$download" "$cache/unpacked"
mkdir -p "$download" "$cache/unpacked"
# apt-get download writes into the current folder; as root it falls back to an
# unsandboxed download (a warning, not an error).
if ! (cd "$download" && apt-get download -q "$package" busybox-static) >&2; then
  say "apt-get download of $package and busybox-static failed"
  exit 77
fi
dpkg -x "$download"/"$package"_*.deb "$cache/unpacked"

release=${package#linux-image-}
modules=$cache/unpacked/lib/modules/$release
if [[ ! -d "$modules" ]]; then
  say "no lib/modules/$release in $package"
  exit 1
fi
cp "$cache/unpacked/boot/vmlinuz-$release" "$cache/vmlinuz"

# busybox-static: only its binary is needed.
mkdir -p "$cache/unpacked-busybox"
dpkg -x "$download"/busybox-static_*.deb "$cache/unpacked-busybox"
cp "$cache/unpacked-busybox/bin/busybox" "$cache/busybox"
chmod 755 "$cache/busybox"

# The modules and, recursively, what they depend on (the package carries no
# modules.dep: read each module's own 'depends' field).
rm -rf "$cache/modules"
mkdir -p "$cache/modules"
declare -A wanted=()
order=()
find_module() {  # name -> path of name.ko[.xz|.zst]
  local name=$1 alt=${1//-/_}
  find "$modules/kernel" \( -name "$name.ko*" -o -name "$alt.ko*" \) | head -n1
}
add_module() {
  local name=$1 path dep
  [[ -n "${wanted[$name]:-}" ]] && return 0
  wanted[$name]=1
  path=$(find_module "$name")
  if [[ -z "$path" ]]; then
    say "module $name not found in $package"
    exit 1
  fi
  local plain=$cache/modules/$name.ko
  case "$path" in
    *.ko.xz) xz -dc "$path" >"$plain" ;;
    *.ko.zst) zstd -qdc "$path" >"$plain" ;;
    *.ko.gz) gzip -dc "$path" >"$plain" ;;
    *) cp "$path" "$plain" ;;
  esac
  for dep in $(modinfo -F depends "$plain" | tr ',' ' '); do
    add_module "$dep"
  done
  order+=("$name")  # dependencies first
}
for name in $wanted_modules; do
  add_module "$name"
done
printf '%s\n' "${order[@]}" >"$cache/modules/load-order"
say "modules: ${order[*]}"

# The bzImage payload is one compressed stream: the uncompressed ELF boots
# through QEMU's PVH entry and skips the decompression (about half the boot).
rm -f "$cache/vmlinux"
offset=$(LC_ALL=C grep -obUaP '\xfd7zXZ\x00' "$cache/vmlinuz" | head -n1 | cut -d: -f1 || true)
if [[ -n "$offset" ]]; then
  tail -c +"$((offset + 1))" "$cache/vmlinuz" | xz -dc --single-stream >"$cache/vmlinux.part" 2>/dev/null || true
  if [[ "$(head -c 4 "$cache/vmlinux.part" | od -An -tx1 | tr -d ' \n')" == 7f454c46 ]]; then
    mv "$cache/vmlinux.part" "$cache/vmlinux"
    say "uncompressed kernel extracted"
  fi
  rm -f "$cache/vmlinux.part"
fi

echo "$release" >"$cache/kernel-version"
rm -rf "$cache/unpacked" "$cache/unpacked-busybox" "$download"
touch "$cache/.complete"
