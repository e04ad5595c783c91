# Guest test of the omzi2c tool with real port I/O on QEMU's emulated SMBus
# host (q35: PCI 00:1f.3, Chipset 2; pc: the power-management function
# 00:01.3, Chipset 4): discovery, every write and read request against two
# memory-module EEPROMs, an absent address, then a cross-check of the same
# bytes through the kernel's own driver (loaded only after the tool is done).
# The tool configures itself from what its pci command suggests for the host.
# Parameters (kernel command line): OMZI2C_VID, OMZI2C_DID, OMZI2C_FUNC,
# OMZI2C_CHIPSET (default 2), OMZI2C_DEV (PCI device, default 0x1f): what
# the suggestion must be.
. /test/lib.sh
vid=${OMZI2C_VID:-0x8086}
did=${OMZI2C_DID:-0x2930}
func=${OMZI2C_FUNC:-3}
chipset=${OMZI2C_CHIPSET:-2}
dev=${OMZI2C_DEV:-0x1f}
# Where the host's enable sits, and how it reads switched off and on: the
# pc machine's firmware leaves 0x09 in its host configuration byte.
probe_layout=
hostcfg_off="hostcfg=0x00 io=0" hostcfg_on="hostcfg=0x01 io=1"
if [ "$chipset" = 4 ]; then
  probe_layout=--piix4
  hostcfg_off="hostcfg=0x08 io=0" hostcfg_on="hostcfg=0x09 io=1"
fi

# tool ARGS...: runs omzi2c on the real ports with the parameters pci
# suggested (below); status/out/err as run_status.
tool() {
  echo "\$ omzi2c $*"
  run_status status out err omzi2c --board ports --config /tmp/omzi2c.reg -y "$@"
  [ -n "$out" ] && echo "$out"
  [ -n "$err" ] && echo "stderr: $err"
  [ "$status" -eq 0 ] || echo "(exit status $status)"
}
# tool_ok WHAT ARGS...: the command must succeed.
tool_ok() {
  local what=$1
  shift
  tool "$@"
  if [ "$status" -eq 0 ]; then ok "$what"; else failed "$what: exit status $status"; fi
}
# tool_reads WHAT EXPECTED ARGS...: the command must succeed and print EXPECTED.
tool_reads() {
  local what=$1 expected=$2
  shift 2
  tool "$@"
  if [ "$status" -ne 0 ]; then
    failed "$what: exit status $status"
  else
    expect_equal "$what" "$expected" "$out"
  fi
}
hex2() { printf '0x%02x' $(($1 & 0xff)); }

echo "== configured from pci"
# The tool reads the kernel's sysfs for the listing: its suggestion for the
# host must be this machine's code, at the location and with the IDs the
# kernel shows there; the driver then starts from the .reg lines pci prints.
at=$(printf '00:%02x.%x' $((dev)) "$func")
sys_ids="$(sed 's/^0x//' "/sys/bus/pci/devices/0000:$at/vendor"):$(sed 's/^0x//' \
  "/sys/bus/pci/devices/0000:$at/device")"
expect_equal "the kernel's IDs at $at" "$(printf '%04x:%04x' $((vid)) $((did)))" "$sys_ids"
run_status status out err omzi2c --board ports --smb-service off pci
echo "$out"
line=$(echo "$out" | grep "^$at ")
expect_equal "pci's IDs at $at" "$sys_ids" "$(echo "$line" | cut -c10-18)"
expect_equal "pci's Chipset at $at" "$chipset" "$(echo "$line" | cut -c29- | cut -d' ' -f1)"
suggested=$(echo "$out" | cut -c29- | grep -c '^[0-9]')
expect_equal "functions with a suggestion" 1 "$suggested"
run_status status out err omzi2c --board ports --smb-service off pci "$at"
echo "$out" >/tmp/omzi2c.reg
echo "$out"
expect_equal "pci's .reg lines name Chipset $chipset" \
  "\"Chipset\"=dword:$(printf '%08x' "$chipset")" "$(grep '^"Chipset"' /tmp/omzi2c.reg)"

echo "== discovery"
# Undo the firmware's enabling: the host then answers only if the driver's
# discovery switches it on again.
run_status status probe err pci_probe 0 "$dev" "$func" --switch-off $probe_layout
echo "switched off: $probe"
expect_equal "host switched off before the driver starts" "$hostcfg_off" \
  "$(echo "$probe" | sed 's/.*\(hostcfg=.*\)/\1/')"
tool_ok "info" info
if [ "$status" -ne 0 ]; then
  echo "the tool did not find the SMBus host: nothing else can work"
  finish
  exit 1
fi

run_status status probe err pci_probe 0 "$dev" "$func" $probe_layout
expect_equal "host switched on by discovery" "$hostcfg_on" \
  "$(echo "$probe" | sed 's/.*\(hostcfg=.*\)/\1/')"

echo "== detect"
tool_ok "detect" detect
echo "$out" >/tmp/detect
row=$(sed -n 's/^50: *//p' /tmp/detect | tr -s ' ' | sed 's/ *$//')
expect_equal "detect row 50" "50 51 52 53 54 55 56 57 -- -- -- -- -- -- -- --" "$row"
found=$(sed -n 's/^[0-7]0://p' /tmp/detect | tr ' ' '\n' | grep -c '^[0-9a-f][0-9a-f]$')
expect_equal "addresses found by detect" 8 "$found"

# Two EEPROMs, each with its own pattern: a chip answering for the other
# one, or writes landing on the wrong chip, show in the images.
for chip in 0x50 0x53; do
  seed=$((chip == 0x50 ? 0x11 : 0x8c))
  v() { hex2 $((seed + 0x25 * $1)); }  # the pattern's K-th byte

  echo "== writes to $chip (every write request)"
  # Byte writes: set, with MODE b given and left out.
  for k in 0 1 2; do
    tool_ok "set $chip $(hex2 $((0x10 + k))) (byte)" set $chip "$(hex2 $((0x10 + k)))" "$(v $k)"
    remember $chip $((0x10 + k)) "$(v $k)"
  done
  tool_ok "set $chip 0x13 (byte, MODE b)" set $chip 0x13 "$(v 3)" b
  remember $chip 0x13 "$(v 3)"
  # Word write: low byte at REG, high byte at REG+1.
  low=$(v 4) high=$(v 5)
  word=$(printf '0x%04x' $((high << 8 | low)))
  tool_ok "set $chip 0x20 $word w" set $chip 0x20 "$word" w
  remember $chip 0x20 "$low"
  remember $chip 0x21 "$high"
  # Write with command, several bytes: byte writes at REG, REG+1, ...
  tool_ok "write $chip 0x30 (6 bytes)" write $chip 0x30 "$(v 6)" "$(v 7)" "$(v 8)" "$(v 9)" \
    "$(v 10)" "$(v 11)"
  for k in 0 1 2 3 4 5; do remember $chip $((0x30 + k)) "$(v $((6 + k)))"; done
  # ... two bytes: one word write.
  tool_ok "write $chip 0x38 (2 bytes: a word)" write $chip 0x38 "$(v 12)" "$(v 13)"
  remember $chip 0x38 "$(v 12)"
  remember $chip 0x39 "$(v 13)"
  # ... and wrapping from 0xff to 0x00.
  tool_ok "write $chip 0xfe (3 bytes, wraps)" write $chip 0xfe "$(v 14)" "$(v 15)" "$(v 16)"
  remember $chip 0xfe "$(v 14)"
  remember $chip 0xff "$(v 15)"
  remember $chip 0x00 "$(v 16)"
  # SMBus block write: the EEPROM keeps the count byte at REG and the data
  # after it (it treats everything after the command as data).
  tool_ok "block-write $chip 0x40 (5 bytes)" block-write $chip 0x40 "$(v 17)" "$(v 18)" \
    "$(v 19)" "$(v 20)" "$(v 21)"
  remember $chip 0x40 5
  for k in 0 1 2 3 4; do remember $chip $((0x41 + k)) "$(v $((17 + k)))"; done

  echo "== reads from $chip (every read request)"
  tool_reads "get $chip 0x10" "$(v 0)" get $chip 0x10
  tool_reads "get $chip 0x11 b" "$(v 1)" get $chip 0x11 b
  tool_reads "get $chip 0x13 b" "$(v 3)" get $chip 0x13 b
  tool_reads "get $chip 0x20 w" "$word" get $chip 0x20 w
  tool_reads "read $chip 0x30 6 (byte read, then receive bytes)" \
    "$(v 6) $(v 7) $(v 8) $(v 9) $(v 10) $(v 11)" read $chip 0x30 6
  tool_reads "read $chip 0x38 2 (word read)" "$(v 12) $(v 13)" read $chip 0x38 2
  tool_reads "read $chip 0x12 1" "$(v 2)" read $chip 0x12 1
  tool_reads "get $chip 0x32 c (send, then receive)" "$(v 8)" get $chip 0x32 c
  # Send bytes move the EEPROM's address pointer; receive bytes read on from it.
  tool_ok "send $chip 0x39 0x31" send $chip 0x39 0x31
  tool_reads "recv $chip (at 0x31)" "$(v 7)" recv $chip
  tool_reads "recv $chip 3 (0x32-0x34)" "$(v 8) $(v 9) $(v 10)" recv $chip 3
  tool_reads "get $chip (receive byte at 0x35)" "$(v 11)" get $chip
  tool_reads "get $chip 0xff" "$(v 15)" get $chip 0xff
  tool_reads "get $chip 0x00" "$(v 16)" get $chip 0x00
  tool_reads "block-read $chip 0x40" "$(v 17) $(v 18) $(v 19) $(v 20) $(v 21)" block-read $chip 0x40
  tool_reads "get $chip 0x40 s (block read)" "$(v 17) $(v 18) $(v 19) $(v 20) $(v 21)" get $chip 0x40 s
  tool_reads "get $chip 0x80 (never written)" 0x00 get $chip 0x80
  tool_ok "dump $chip" dump $chip
  echo "$out" >/tmp/tool-dump.$((chip))
  compare_image "dump $chip through omzi2c" $chip /tmp/tool-dump.$((chip))
done

echo "== an absent address"
for args in "get 0x30 0x00" "recv 0x30" "set 0x30 0x00 0x01" "read 0x30 0x00 3"; do
  tool $args
  if [ "$status" -eq 2 ] && [ -n "$err" ]; then
    ok "$args: exit status 2 with a message"
  else
    failed "$args: expected exit status 2 and a message, got status $status"
  fi
done
# The host recovers from the error: the next transaction works.
tool_reads "get 0x50 0x10 after the errors" "$(seed=0x11; hex2 $seed)" get 0x50 0x10

echo "== writes on real ports ask first"
# Without -y a write asks on stderr; anything but yes leaves the chip alone
# and ends the command with exit status 0, as i2cset does.
ask() {
  echo "$1" | omzi2c --board ports --chipset "$chipset" --vid "$vid" --did "$did" --func "$func" \
    set 0x50 0x10 0x99 >/tmp/ask.out 2>/tmp/ask.err
  asked=$?
}
ask n
if [ "$asked" -eq 0 ] && grep -q 'Continue? \[y/N\]' /tmp/ask.err &&
  grep -q 'DANGER' /tmp/ask.err && grep -q 'Aborted' /tmp/ask.err &&
  grep -q 'chip address 0x50, data address 0x10, data 0x99, mode byte' /tmp/ask.err &&
  grep -q "at PCI 00:$(printf %02x $((dev))).$func" /tmp/ask.err; then
  ok "a refused write asks, names chip, register, value, mode and host, warns and stops"
else
  failed "a refused write: status $asked, stderr: $(cat /tmp/ask.err)"
fi
tool_reads "get 0x50 0x10 after a refused write" "$(seed=0x11; hex2 $seed)" get 0x50 0x10
ask y
expect_equal "an accepted write's exit status" 0 "$asked"
tool_reads "get 0x50 0x10 after an accepted write" 0x99 get 0x50 0x10
tool_ok "set 0x50 0x10 back" set 0x50 0x10 "$(seed=0x11; hex2 $seed)"

echo "== cross-check with the kernel's driver"
load_kernel_smbus || { finish; exit 1; }
bus=$(kernel_smbus_bus)
if [ -z "$bus" ] || ! wait_for_device "/dev/i2c-$bus"; then
  failed "no /dev/i2c-N of the kernel's SMBus driver"
  finish
  exit 1
fi
ok "kernel SMBus adapter i2c-$bus"
for chip in 0x50 0x53; do
  i2cdump -y "$bus" $chip b >/tmp/kernel-dump.$((chip)) 2>&1
  cat /tmp/kernel-dump.$((chip))
  compare_image "i2cdump $chip through the kernel" $chip /tmp/kernel-dump.$((chip))
  expect_equal "i2cget $chip 0x20 w" "$(expected_image $chip | sed -n 34p)$(expected_image $chip | sed -n 33p | cut -c3-)" \
    "$(i2cget -y "$bus" $chip 0x20 w)"
done
for chip in 0x51 0x52 0x54 0x55 0x56 0x57; do
  i2cdump -y "$bus" $chip b >/tmp/kernel-dump.$((chip)) 2>&1
  compare_image "i2cdump $chip (never written)" $chip /tmp/kernel-dump.$((chip))
done

echo "== the kernel's driver holds the host: refused, unless forced or unbound"
pci=$(host_pci "$dev" "$func")
driver=$(host_driver "$pci")
[ -n "$driver" ] && ok "kernel driver $driver bound to $pci" || failed "no kernel driver on $pci"
tool get 0x50 0x10
if [ "$status" -eq 1 ] && [ -z "$out" ] && echo "$err" | grep -q "driver $driver drives" &&
  echo "$err" | grep -q "echo $pci > /sys/bus/pci/drivers/$driver/unbind"; then
  ok "refused while $driver holds the host, naming it and how to unbind it"
else
  failed "expected a refusal naming $driver (exit status 1), got status $status"
fi
tool_reads "get 0x50 0x10 with --force" "$(seed=0x11; hex2 $seed)" --force get 0x50 0x10
tool_reads "get 0x50 0x10 with -f after the command" "$(seed=0x11; hex2 $seed)" get -f 0x50 0x10
tool_ok "--smb-service off is not checked" --smb-service off port read 0x80
unbind_host "$pci" "$driver"
expect_equal "driver after unbinding" "" "$(host_driver "$pci")"
tool_reads "get 0x50 0x10 with the driver unbound" "$(seed=0x11; hex2 $seed)" get 0x50 0x10
bind_host "$pci" "$driver"
expect_equal "driver bound again for the later parts" "$driver" "$(host_driver "$pci")"

finish
