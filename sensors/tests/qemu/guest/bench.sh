# Guest benchmark: read-byte transactions per second through omzi2c (real
# ports) and through the kernel's own driver via i2c-dev, in the same guest;
# prints both and their ratio. Figures are printed, never judged: the run
# fails only when transactions fail. Parameters: OMZI2C_VID, OMZI2C_DID,
# OMZI2C_FUNC, OMZI2C_CHIPSET (default 2), OMZI2C_KERNEL_DRIVER (the kernel's
# driver of that host, default i2c-i801), OMZI2C_COUNT (transactions per side).
. /test/lib.sh
vid=${OMZI2C_VID:-0x8086}
did=${OMZI2C_DID:-0x2930}
func=${OMZI2C_FUNC:-3}
chipset=${OMZI2C_CHIPSET:-2}
kernel_driver=${OMZI2C_KERNEL_DRIVER:-i2c-i801}
count=${OMZI2C_COUNT:-20000}
chip=0x50
reg=0x10
set -- --board ports --chipset "$chipset" --vid "$vid" --did "$did" --func "$func" -y

echo "== omzi2c: $count read-byte transactions at $chip:$reg"
ours=
if omzi2c --help 2>&1 | grep -q '^ *bench '; then
  # The tool's own repeat loop: one session, no per-command parsing.
  echo "\$ omzi2c $* bench $chip $reg $count"
  if omzi2c "$@" bench $chip $reg "$count" >/tmp/bench.out 2>&1; then
    cat /tmp/bench.out
    ours=$(sed -n 's/.* \([0-9][0-9.]*\) per second.*/\1/p' /tmp/bench.out | head -n1)
    [ -n "$ours" ] || failed "no 'N per second' figure in the bench output"
  else
    cat /tmp/bench.out
    failed "omzi2c bench"
  fi
else
  # No repeat option yet: one shell session reading the commands from a
  # file (one process and one driver start for all of them; the time
  # includes the shell's parsing and printing of each command).
  echo "(no bench command: $count 'get' commands through one 'omzi2c shell')"
  awk -v n="$count" -v c="$chip" -v r="$reg" 'BEGIN { for (i = 0; i < n; i++) print "get " c " " r }' \
    >/tmp/bench.commands
  start=$(uptime_centis)
  omzi2c "$@" shell </tmp/bench.commands >/tmp/bench.out 2>/tmp/bench.err
  status=$?
  end=$(uptime_centis)
  if [ "$status" -ne 0 ]; then
    head -n 5 /tmp/bench.err
    failed "omzi2c shell: exit status $status"
  else
    lines=$(grep -c '^0x' /tmp/bench.out)
    expect_equal "values read by omzi2c shell" "$count" "$lines"
    ours=$(awk -v n="$count" -v t=$((end - start)) 'BEGIN { printf "%.0f", (t > 0 ? n * 100 / t : 0) }')
    echo "omzi2c read-byte: $count transactions in $((end - start))0 ms: $ours per second"
  fi
fi

echo "== the kernel's driver through i2c-dev: $count read-byte transactions at $chip:$reg"
load_kernel_smbus || { finish; exit 1; }
bus=$(kernel_smbus_bus)
kernel=
if [ -n "$bus" ] && wait_for_device "/dev/i2c-$bus"; then
  if i2c_rate "/dev/i2c-$bus" $chip $reg "$count" >/tmp/rate.out; then
    cat /tmp/rate.out
    kernel=$(sed -n 's/.*: \([0-9][0-9]*\) per second/\1/p' /tmp/rate.out)
  else
    failed "i2c_rate"
  fi
else
  failed "no /dev/i2c-N of the kernel's SMBus driver"
fi

echo "== result"
echo "BENCH omzi2c read-byte per second: ${ours:-n/a}"
echo "BENCH kernel $kernel_driver read-byte per second: ${kernel:-n/a}"
if [ -n "$ours" ] && [ -n "$kernel" ] && [ "$kernel" != 0 ]; then
  echo "BENCH ratio omzi2c / kernel: $(awk -v a="$ours" -v b="$kernel" 'BEGIN { printf "%.3g", a / b }')"
fi
finish
