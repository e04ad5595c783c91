# Guest benchmark: read-byte transactions per second, in the same boot,
# three ways: the floor (a bare loop of the same port accesses, port_floor),
# omzi2c on real ports (its bench command: one session, one reply buffer),
# and the kernel's own driver through i2c-dev (i2c_rate); then the ratios of
# omzi2c to each. Figures are printed, never judged: the run fails only when
# transactions fail. Parameters: OMZI2C_VID, OMZI2C_DID, OMZI2C_FUNC,
# OMZI2C_DEV (PCI device, default 0x1f), OMZI2C_CHIPSET (default 2; 4 is the
# paced-poll host of the pc machine), OMZI2C_KERNEL_DRIVER (the kernel's
# driver of that host, default i2c-i801), OMZI2C_COUNT (transactions each),
# OMZI2C_KERNEL_COUNT (the kernel driver's, default the same: i2c-piix4
# sleeps about a millisecond in every transaction).
. /test/lib.sh
vid=${OMZI2C_VID:-0x8086}
did=${OMZI2C_DID:-0x2930}
func=${OMZI2C_FUNC:-3}
dev=${OMZI2C_DEV:-0x1f}
chipset=${OMZI2C_CHIPSET:-2}
kernel_driver=${OMZI2C_KERNEL_DRIVER:-i2c-i801}
count=${OMZI2C_COUNT:-50000}
kernel_count=${OMZI2C_KERNEL_COUNT:-$count}
chip=0x50
reg=0x10
layout= floor_kind=
if [ "$chipset" = 4 ]; then layout=--piix4 floor_kind=--paced-poll; fi
# rate FILE: the "N per second" figure of a result line.
rate() { sed -n 's/.* \([0-9][0-9.]*\) per second.*/\1/p' "$1" | head -n1; }

echo "== floor: $count bare read-byte sequences at $chip:$reg"
run_status status probe err pci_probe 0 "$dev" "$func" $layout
base=$(printf '0x%x' $(($(echo "$probe" | tr ' ' '\n' | sed -n 's/^base=//p') & 0xfff0)))
floor=
if port_floor "$base" $chip $reg "$count" $floor_kind >/tmp/floor.out; then
  cat /tmp/floor.out
  floor=$(rate /tmp/floor.out)
  expect_equal "the floor's value read" "$(expected_byte $chip $reg)" \
    "$(sed -n 's/.*last value \(0x[0-9a-f]*\).*/\1/p' /tmp/floor.out)"
else
  failed "port_floor at $base"
fi

echo "== omzi2c: $count read-byte transactions at $chip:$reg"
# An earlier part may have left the kernel's driver bound to the host: the
# tool refuses to share it, so it is unbound for the run and bound again.
pci=$(host_pci "$dev" "$func")
driver=$(host_driver "$pci")
unbind_host "$pci" "$driver"
# The parameters the omzi2c part took from pci's suggestion, where it ran.
if [ -f /tmp/omzi2c.reg ]; then
  set -- --board ports --config /tmp/omzi2c.reg -y
else
  set -- --board ports --chipset "$chipset" --vid "$vid" --did "$did" --func "$func" -y
fi
echo "\$ omzi2c $* bench $chip $reg $count"
ours=
if omzi2c "$@" bench $chip $reg "$count" >/tmp/bench.out 2>&1; then
  cat /tmp/bench.out
  ours=$(rate /tmp/bench.out)
  [ -n "$ours" ] || failed "no 'N per second' figure in the bench output"
else
  cat /tmp/bench.out
  failed "omzi2c bench"
fi
bind_host "$pci" "$driver"

echo "== the kernel's driver through i2c-dev: $kernel_count read-byte transactions at $chip:$reg"
load_kernel_smbus || { finish; exit 1; }
bus=$(kernel_smbus_bus)
kernel=
if [ -n "$bus" ] && wait_for_device "/dev/i2c-$bus"; then
  if i2c_rate "/dev/i2c-$bus" $chip $reg "$kernel_count" >/tmp/rate.out; then
    cat /tmp/rate.out
    kernel=$(rate /tmp/rate.out)
  else
    failed "i2c_rate"
  fi
else
  failed "no /dev/i2c-N of the kernel's SMBus driver"
fi

# ratio A B: A / B to three figures, or n/a.
ratio() {
  if [ -n "$1" ] && [ -n "$2" ] && [ "$2" != 0 ]; then
    awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3g", a / b }'
  else
    echo n/a
  fi
}
echo "== result"
echo "BENCH floor read-byte per second: ${floor:-n/a}"
echo "BENCH omzi2c read-byte per second: ${ours:-n/a}"
echo "BENCH kernel $kernel_driver read-byte per second: ${kernel:-n/a}"
echo "BENCH ratio omzi2c / kernel: $(ratio "$ours" "$kernel")"
echo "BENCH ratio omzi2c / floor: $(ratio "$ours" "$floor")"
finish
