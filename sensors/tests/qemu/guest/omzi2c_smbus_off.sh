# Guest test on a q35 machine without its SMBus host (-M q35,smbus=off): the
# tool's discovery must fail with STATUS_NO_SUCH_DEVICE (exit status 2, the
# status named in the message). Parameters: OMZI2C_VID, OMZI2C_DID, OMZI2C_FUNC.
. /test/lib.sh
vid=${OMZI2C_VID:-0x8086}
did=${OMZI2C_DID:-0x2930}
func=${OMZI2C_FUNC:-3}

echo "\$ omzi2c --board ports --chipset 2 --vid $vid --did $did --func $func -y info"
run_status status out err omzi2c --board ports --chipset 2 --vid "$vid" --did "$did" \
  --func "$func" -y info
echo "$out"
echo "stderr: $err"
expect_equal "exit status of info" 2 "$status"
case "$err" in
  *STATUS_NO_SUCH_DEVICE*) ok "the message names STATUS_NO_SUCH_DEVICE" ;;
  *) failed "the message does not name STATUS_NO_SUCH_DEVICE" ;;
esac
finish
