# Shared by the guest scripts (busybox sh), which may run one after another
# in the same boot: what one part writes to the EEPROMs it records with
# `remember`, so that every later part knows the chips' contents. Every
# check prints one line:
#   ok: WHAT            or            FAILED: WHAT (details)
# and a failed check counts in $failures; the script ends with `finish`.
failures=0

ok() { echo "ok: $*"; }
failed() {
  echo "FAILED: $*"
  failures=$((failures + 1))
}

# expect_equal WHAT EXPECTED ACTUAL
expect_equal() {
  if [ "$2" = "$3" ]; then
    ok "$1 = $3"
  else
    failed "$1: expected '$2', got '$3'"
  fi
}

# run_status STATUS-VAR OUT-VAR ERR-VAR COMMAND...: runs COMMAND, keeps its
# exit status, stdout and stderr (no trailing newline) in the named variables.
run_status() {
  local _s _o _e
  _s=$1 _o=$2 _e=$3
  shift 3
  "$@" >/tmp/run.out 2>/tmp/run.err
  eval "$_s=$?"
  eval "$_o=\"\$(cat /tmp/run.out)\""
  eval "$_e=\"\$(cat /tmp/run.err)\""
}

# The kernel's SMBus driver: loads the modules in dependency order (those
# an earlier part of the boot loaded stay as they are).
load_kernel_smbus() {
  local name
  for name in $(cat /lib/omzi2c-modules/load-order); do
    [ -d "/sys/module/$(echo "$name" | tr - _)" ] && continue
    if insmod "/lib/omzi2c-modules/$name.ko"; then
      ok "insmod $name"
    else
      failed "insmod $name"
      return 1
    fi
  done
}

# Prints the number N of the /dev/i2c-N that belongs to the kernel's
# SMBus host driver (of KIND i801 or piix4 if given, else either), or nothing.
kernel_smbus_bus() {
  local adapter kind
  for adapter in /sys/class/i2c-adapter/i2c-*; do
    [ -e "$adapter/name" ] || continue
    case "$(cat "$adapter/name")" in
      *I801*|*i801*) kind=i801 ;;
      *PIIX4*|*piix4*) kind=piix4 ;;
      *) continue ;;
    esac
    if [ -z "$1" ] || [ "$1" = "$kind" ]; then
      echo "${adapter##*/i2c-}"
      return 0
    fi
  done
}

# host_pci DEV FUNC: the sysfs name of 00:DEV.FUNC; host_driver PCI: the
# kernel driver bound there, if any; unbind_host/bind_host PCI DRIVER take
# the host from DRIVER and give it back (nothing when DRIVER is empty).
host_pci() { printf '0000:00:%02x.%x' $(($1)) $(($2)); }
host_driver() {
  [ -e "/sys/bus/pci/devices/$1/driver" ] && basename "$(readlink "/sys/bus/pci/devices/$1/driver")"
}
unbind_host() { [ -z "$2" ] || echo "$1" >"/sys/bus/pci/drivers/$2/unbind"; }
bind_host() { [ -z "$2" ] || echo "$1" >"/sys/bus/pci/drivers/$2/bind"; }

# Waits (up to ~5 s) for /dev/i2c-N to appear.
wait_for_device() {
  local tries=0
  while [ ! -c "$1" ] && [ $tries -lt 50 ]; do
    sleep 0.1
    tries=$((tries + 1))
  done
  [ -c "$1" ]
}

# Seconds since boot with hundredths, as an integer count of hundredths.
uptime_centis() {
  awk '{ printf "%d\n", $1 * 100 }' /proc/uptime
}

finish() {
  if [ "$failures" -eq 0 ]; then
    echo "all checks passed"
    return 0
  fi
  echo "$failures check(s) failed"
  return 1
}

# --- Expected EEPROM contents. QEMU's memory-module EEPROMs start as 256
# zero bytes; every write the test makes is recorded here, so the whole image
# of a chip is known and can be compared with a dump.
# remember CHIP REG VALUE: the test wrote VALUE at REG of CHIP.
remember() {
  echo "$(($2 & 0xff)) $(printf '0x%02x' $(($3)))" >>"/tmp/expected.$(($1))"
}

# expected_byte CHIP REG: what the test expects at REG of CHIP, "0xNN".
expected_byte() {
  expected_image "$1" | sed -n "$(($2 + 1))p"
}

# expected_image CHIP: 256 lines "0xNN", register 0x00 first.
expected_image() {
  local file="/tmp/expected.$(($1))"
  [ -f "$file" ] || : >"$file"
  awk '{ value[$1] = $2 } END { for (r = 0; r < 256; r++) print (r in value) ? value[r] : "0x00" }' "$file"
}

# dump_values FILE: the 256 bytes of a 16-column hex dump ("00: xx xx ..."),
# one "0xNN" per line (XX for a failed read).
dump_values() {
  awk '/^[0-9a-f]0:/ { for (i = 2; i <= 17; i++) print ($i == "XX" ? "XX" : "0x" tolower($i)) }' "$1"
}

# compare_image WHAT CHIP DUMP-FILE
compare_image() {
  expected_image "$2" >/tmp/image.expected
  dump_values "$3" >/tmp/image.actual
  if cmp -s /tmp/image.expected /tmp/image.actual; then
    ok "$1: all 256 bytes as expected"
  else
    failed "$1: differs from the expected image (register: expected actual)"
    awk 'NR == FNR { e[FNR] = $1; next } e[FNR] != $1 { printf "  0x%02x: %s %s\n", FNR - 1, e[FNR], $1 }' \
      /tmp/image.expected /tmp/image.actual | head -n 40
  fi
}
