#!/usr/bin/env bash
# Builds the guest's initramfs (gzip'd newc cpio):
#   /init                  guest/init
#   /bin/busybox           from the cache (applets linked at start)
#   /lib/omzi2c-modules/   the cached kernel modules and their load order
#   /test/run.sh           the guest test script
#   /test/NAME.sh          every guest script (lib.sh, shared by them all, and
#                          the parts suite.sh runs)
#   /test/bin/NAME         each static binary given
# Usage: mkinitrd.sh CACHE OUTPUT GUEST-SCRIPT [BINARY...]
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
cache=${1:?usage: mkinitrd.sh CACHE OUTPUT GUEST-SCRIPT [BINARY...]}
output=${2:?usage: mkinitrd.sh CACHE OUTPUT GUEST-SCRIPT [BINARY...]}
script=${3:?usage: mkinitrd.sh CACHE OUTPUT GUEST-SCRIPT [BINARY...]}
shift 3

root=$(mktemp -d "${TMPDIR:-/tmp}/omzi2c-initrd.XXXXXX")
trap 'rm -rf "$root"' EXIT

mkdir -p "$root"/{bin,dev,proc,sys,tmp,test/bin,lib/omzi2c-modules}
install -m 755 "$here/guest/init" "$root/init"
install -m 755 "$cache/busybox" "$root/bin/busybox"
install -m 644 "$cache"/modules/*.ko "$cache/modules/load-order" "$root/lib/omzi2c-modules/"
install -m 644 "$script" "$root/test/run.sh"
install -m 644 "$here"/guest/*.sh "$root/test/"
for binary in "$@"; do
  if LC_ALL=C readelf -l "$binary" 2>/dev/null | grep -q 'INTERP'; then
    echo "mkinitrd: $binary is dynamically linked; the guest has no libraries" >&2
    exit 1
  fi
  install -m 755 "$binary" "$root/test/bin/$(basename "$binary")"
done

(cd "$root" && find . -print0 | LC_ALL=C sort -z |
   cpio --null --create --format=newc --owner=0:0 --quiet) | gzip -1 >"$output.part"
mv "$output.part" "$output"
