#!/usr/bin/env bash
# Boots QEMU's q35 machine (TCG, no KVM) with a kernel and an initramfs built
# by mkinitrd.sh, copies the serial console to stdout and to LOG, and turns
# the guest's result line into the exit status: 0 PASS, 1 FAIL or no result
# (time-out, crash, panic).
# Usage: boot.sh KERNEL INITRD LOG [options]
#   --machine M     machine and its properties (default q35), e.g. q35,smbus=off
#   --timeout S     seconds before QEMU is stopped (default 180)
#   --append TEXT   more kernel command line words (e.g. omzi2c_mode=...)
set -euo pipefail

kernel=${1:?usage: boot.sh KERNEL INITRD LOG [--machine M] [--timeout S] [--append TEXT]}
initrd=${2:?usage: boot.sh KERNEL INITRD LOG [--machine M] [--timeout S] [--append TEXT]}
log=${3:?usage: boot.sh KERNEL INITRD LOG [--machine M] [--timeout S] [--append TEXT]}
shift 3
machine=q35
limit=180
append=
while [[ $# -gt 0 ]]; do
  case "$1" in
    --machine) machine=$2; shift 2 ;;
    --timeout) limit=$2; shift 2 ;;
    --append) append="$append $2"; shift 2 ;;
    *) echo "boot.sh: unknown option $1" >&2; exit 1 ;;
  esac
done

qemu=${QEMU:-qemu-system-x86_64}
echo "boot: $qemu -M $machine, kernel $(basename "$kernel"), time limit ${limit}s" >&2
start=$(date +%s%3N)
set +e
# The guest shares two cores with builds: run it at low priority.
nice -n 10 timeout --kill-after=10 "$limit" \
  "$qemu" -M "$machine" -accel tcg -m 256 -nographic -no-reboot \
    -kernel "$kernel" -initrd "$initrd" \
    -append "console=ttyS0 quiet panic=-1$append" </dev/null 2>&1 |
  tr -d '\r' | tee "$log"
status=${PIPESTATUS[0]}
echo
set -e
elapsed=$(($(date +%s%3N) - start))
seconds=$((elapsed / 1000)).$(printf '%03d' $((elapsed % 1000)))
echo "boot: QEMU ended with status $status after ${seconds}s" >&2

if [[ $status -eq 124 || $status -eq 137 ]]; then
  echo "boot: FAIL: the guest did not finish within ${limit}s" >&2
  exit 1
fi
if grep -q '^OMZI2C-GUEST-RESULT: PASS$' "$log"; then
  echo "boot: PASS" >&2
  exit 0
fi
if grep -q '^OMZI2C-GUEST-RESULT: FAIL' "$log"; then
  echo "boot: FAIL: $(grep '^OMZI2C-GUEST-RESULT: FAIL' "$log" | head -n1)" >&2
else
  echo "boot: FAIL: no result line from the guest (QEMU status $status)" >&2
fi
exit 1
