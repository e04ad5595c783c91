# One boot, several checks: runs the guest scripts named in OMZI2C_PARTS
# (comma-separated, e.g. omzi2c,harness,absent,bench) one after another,
# each in a shell of its own, and fails if any of them failed. The parts
# share the machine: what one writes to the EEPROMs it records (remember, in
# lib.sh) for the later ones, and kernel modules one loads stay loaded.
. /test/lib.sh
parts=$(echo "${OMZI2C_PARTS:?}" | tr ',' ' ')
failed_parts=
for part in $parts; do
  echo "=== part $part (at $(cut -d' ' -f1 /proc/uptime) s of the boot)"
  if sh "/test/$part.sh"; then
    echo "=== part $part: PASS (at $(cut -d' ' -f1 /proc/uptime) s)"
  else
    echo "=== part $part: FAIL (at $(cut -d' ' -f1 /proc/uptime) s)"
    failed_parts="$failed_parts $part"
  fi
done
if [ -n "$failed_parts" ]; then
  echo "failed parts:$failed_parts"
  exit 1
fi
echo "all parts passed: $parts"
