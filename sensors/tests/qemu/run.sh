#!/usr/bin/env bash
# One QEMU test: fetches the guest's kernel and busybox (once, into CACHE),
# builds an initramfs with the guest script of TEST and the given static
# binaries, boots the machine and reports the guest's verdict as the exit
# status (77: skipped, where QEMU or the guest's kernel cannot be had).
#
# Usage: run.sh --cache DIR --work DIR --test TEST [options] [BINARY...]
#   TEST                suite | harness | omzi2c | absent | bench (the guest script
#                       guest/TEST.sh; suite runs the parts named by --param parts=...)
#   BINARY...           static binaries for the guest's PATH (omzi2c, pci_probe,
#                       i2c_rate, port_floor)
#   --machine M         QEMU machine (default q35)
#   --vid V --did D --func F
#                       the SMBus host's PCI IDs and function the guest expects
#                       and passes to omzi2c (default 0x8086 0x2930 3)
#   --kernel vmlinux|vmlinuz
#                       boot the uncompressed kernel through PVH (default when it
#                       was extracted) or the bzImage
#   --timeout S         time limit of the boot (default 180)
#   --param NAME=VALUE  passed to the guest script as OMZI2C_NAME (e.g. count=5000)
#   --name N            name of the initramfs and console log (default TEST), for
#                       tests that run one guest script on another machine
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
cache='' work='' test='' machine='' kernel_kind='' name=''
vid=0x8086 did=0x2930 func=3 limit=180
binaries=()
params=
while [[ $# -gt 0 ]]; do
  case "$1" in
    --cache) cache=$2; shift 2 ;;
    --work) work=$2; shift 2 ;;
    --test) test=$2; shift 2 ;;
    --name) name=$2; shift 2 ;;
    --machine) machine=$2; shift 2 ;;
    --vid) vid=$2; shift 2 ;;
    --did) did=$2; shift 2 ;;
    --func) func=$2; shift 2 ;;
    --kernel) kernel_kind=$2; shift 2 ;;
    --timeout) limit=$2; shift 2 ;;
    --param) params="$params omzi2c_${2%%=*}=${2#*=}"; shift 2 ;;
    -*) echo "run.sh: unknown option $1" >&2; exit 1 ;;
    *) binaries+=("$1"); shift ;;
  esac
done
if [[ -z "$cache" || -z "$work" || -z "$test" ]]; then
  echo "usage: run.sh --cache DIR --work DIR --test TEST [options] [BINARY...]" >&2
  exit 1
fi
script=$here/guest/$test.sh
if [[ ! -f "$script" ]]; then
  echo "run.sh: no guest script $script" >&2
  exit 1
fi
machine=${machine:-q35}

# What the machine lacks is a skip (exit 77, the reason on one line), not a
# failure.
if ! command -v qemu-system-x86_64 >/dev/null; then
  echo "skipped: qemu-system-x86_64 is not installed (Debian package qemu-system-x86)"
  exit 77
fi
fetched=0
"$here/fetch.sh" "$cache" || fetched=$?
if [[ $fetched -eq 77 ]]; then
  echo "skipped: the guest's kernel and busybox could not be fetched from the Debian archive"
  exit 77
fi
[[ $fetched -eq 0 ]] || exit "$fetched"
cache=$(cd "$cache" && pwd)
case "${kernel_kind:-auto}" in
  auto) kernel=$cache/vmlinux; [[ -f "$kernel" ]] || kernel=$cache/vmlinuz ;;
  vmlinux|vmlinuz) kernel=$cache/$kernel_kind ;;
  *) echo "run.sh: --kernel is vmlinux or vmlinuz" >&2; exit 1 ;;
esac

mkdir -p "$work"
work=$(cd "$work" && pwd)
name=${name:-$test}
"$here/mkinitrd.sh" "$cache" "$work/$name.initrd.gz" "$script" "${binaries[@]}"
exec "$here/boot.sh" "$kernel" "$work/$name.initrd.gz" "$work/$name.console.log" \
  --machine "$machine" --timeout "$limit" \
  --append "omzi2c_vid=$vid omzi2c_did=$did omzi2c_func=$func$params"
