# Guest check with the configured SMBus host absent: the other machine's
# host, which this machine lacks (q35 has no power-management function at
# 00:01.3, the pc machine no SMBus function at 00:1f.3). Nothing answers at
# its PCI location, the kernel's driver for it finds no adapter, and the
# tool's discovery fails: info and a read end with exit status 2 and a
# message naming STATUS_NO_SUCH_DEVICE, nothing on stdout.
# Parameters: OMZI2C_ABSENT_CHIPSET, OMZI2C_ABSENT_VID, OMZI2C_ABSENT_DID,
# OMZI2C_ABSENT_FUNC, OMZI2C_ABSENT_DEV (its PCI location) and
# OMZI2C_ABSENT_KERNEL (its kernel driver's kind: i801 or piix4).
. /test/lib.sh
chipset=${OMZI2C_ABSENT_CHIPSET:?}
vid=${OMZI2C_ABSENT_VID:?}
did=${OMZI2C_ABSENT_DID:?}
func=${OMZI2C_ABSENT_FUNC:?}
dev=${OMZI2C_ABSENT_DEV:?}

echo "== nothing at 00:$dev.$func"
run_status status probe err pci_probe 0 "$dev" "$func"
echo "$probe $err"
expect_equal "pci_probe exit status" 0 "$status"
expect_equal "vendor ID of an absent function" 0xffff \
  "$(echo "$probe" | tr ' ' '\n' | sed -n 's/^vendor=//p')"
load_kernel_smbus
expect_equal "adapters of the kernel's ${OMZI2C_ABSENT_KERNEL:?} driver" "" \
  "$(kernel_smbus_bus "$OMZI2C_ABSENT_KERNEL")"

echo "== the tool finds no host"
# expect_failure WHAT ARGS...
expect_failure() {
  local what=$1
  shift
  echo "\$ omzi2c --board ports --chipset $chipset --vid $vid --did $did --func $func -y $*"
  run_status status out err omzi2c --board ports --chipset "$chipset" --vid "$vid" --did "$did" \
    --func "$func" -y "$@"
  echo "$out"
  echo "stderr: $err"
  expect_equal "$what: exit status" 2 "$status"
  expect_equal "$what: nothing on stdout" "" "$out"
  case "$err" in
    *STATUS_NO_SUCH_DEVICE*) ok "$what: the message names STATUS_NO_SUCH_DEVICE" ;;
    *) failed "$what: the message does not name STATUS_NO_SUCH_DEVICE" ;;
  esac
}
expect_failure "info" info
expect_failure "get 0x50 0x00" get 0x50 0x00
finish
