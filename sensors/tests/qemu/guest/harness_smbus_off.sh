# Guest check of the test machinery on a q35 machine without its SMBus host
# (-M q35,smbus=off): nothing answers at 00:1f.FUNC and the kernel's driver
# finds no adapter.
. /test/lib.sh
func=${OMZI2C_FUNC:-3}

run_status status probe err pci_probe 0 0x1f "$func"
echo "$probe $err"
expect_equal "pci_probe exit status" 0 "$status"
expect_equal "vendor ID of an absent function" 0xffff \
  "$(echo "$probe" | tr ' ' '\n' | sed -n 's/^vendor=//p')"
load_kernel_smbus
bus=$(kernel_smbus_bus)
expect_equal "kernel SMBus adapters" "" "$bus"
finish
