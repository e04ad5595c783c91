# Guest check of the test machinery itself, without the omzi2c tool: the
# SMBus host is where the tool will look for it (PCI configuration read with
# user-space port I/O), and the memory-module EEPROMs answer through the
# kernel's own driver. Parameters (kernel command line): OMZI2C_VID,
# OMZI2C_DID, OMZI2C_FUNC, OMZI2C_DEV (PCI device, default 0x1f),
# OMZI2C_CHIPSET (4: the pc machine's power-management function layout),
# OMZI2C_BASE (the base dword expected, default q35's 0x00000701),
# OMZI2C_HOSTCFG (the host configuration byte expected, default 0x01).
. /test/lib.sh
vid=${OMZI2C_VID:-0x8086}
did=${OMZI2C_DID:-0x2930}
func=${OMZI2C_FUNC:-3}
dev=${OMZI2C_DEV:-0x1f}
layout=
[ "${OMZI2C_CHIPSET:-2}" = 4 ] && layout=--piix4

echo "== PCI configuration of 00:$dev.$func through ports 0xCF8/0xCFC"
run_status status probe err pci_probe 0 "$dev" "$func" $layout
echo "$probe $err"
expect_equal "pci_probe exit status" 0 "$status"
field() { echo "$probe" | tr ' ' '\n' | sed -n "s/^$1=//p"; }
expect_equal "vendor ID" "$(printf '0x%04x' "$vid")" "$(field vendor)"
expect_equal "device ID" "$(printf '0x%04x' "$did")" "$(field device)"
expect_equal "I/O base" "${OMZI2C_BASE:-0x00000701}" "$(field base)"
expect_equal "host configuration" "${OMZI2C_HOSTCFG:-0x01}" "$(field hostcfg)"

echo "== the kernel's SMBus driver"
load_kernel_smbus || { finish; exit 1; }
bus=$(kernel_smbus_bus)
if [ -z "$bus" ]; then
  failed "no i2c adapter of the kernel's SMBus driver"
  finish
  exit 1
fi
ok "kernel SMBus adapter is i2c-$bus ($(cat /sys/class/i2c-adapter/i2c-$bus/name))"
wait_for_device "/dev/i2c-$bus" && ok "/dev/i2c-$bus" || failed "/dev/i2c-$bus missing"

echo "== EEPROMs at 0x50-0x57"
i2cdetect -y "$bus" 0x03 0x77 | tee /tmp/detect
row=$(sed -n 's/^50: *//p' /tmp/detect | tr -s ' ' | sed 's/ *$//')
expect_equal "row 50 of the scan" "50 51 52 53 54 55 56 57 -- -- -- -- -- -- -- --" "$row"

echo "== write and read back through i2c-dev"
# What earlier parts of the boot wrote is known (remember), so is every byte.
expect_equal "byte 0x57:0x00 (never written)" "$(expected_byte 0x57 0x00)" \
  "$(i2cget -y "$bus" 0x57 0x00 b)"
i2cset -y "$bus" 0x57 0x10 0xa5 b && ok "i2cset 0x57 0x10 0xa5" || failed "i2cset 0x57 0x10 0xa5"
remember 0x57 0x10 0xa5
expect_equal "byte 0x57:0x10" 0xa5 "$(i2cget -y "$bus" 0x57 0x10 b)"
i2cset -y "$bus" 0x57 0x20 0x5aa5 w && ok "i2cset 0x57 0x20 0x5aa5 w" || failed "i2cset word"
remember 0x57 0x20 0xa5
remember 0x57 0x21 0x5a
expect_equal "word 0x57:0x20" 0x5aa5 "$(i2cget -y "$bus" 0x57 0x20 w)"
expect_equal "byte 0x57:0x21" 0x5a "$(i2cget -y "$bus" 0x57 0x21 b)"
expect_equal "other EEPROM 0x56:0x10" "$(expected_byte 0x56 0x10)" "$(i2cget -y "$bus" 0x56 0x10 b)"
run_status status out err i2cget -y "$bus" 0x30 0x00 b
if [ "$status" -ne 0 ]; then ok "absent address 0x30 fails ($err)"; else failed "absent address 0x30 answered '$out'"; fi

finish
