# Guest test on a pc machine without its power-management function, and so
# without its SMBus host (-M pc,acpi=off; the pc machine keeps its SMBus with
# smbus=off), Chipset 4: discovery finds nothing, so info and a read end with
# exit status 2 and a message naming STATUS_NO_SUCH_DEVICE. Parameters:
# OMZI2C_VID, OMZI2C_DID, OMZI2C_FUNC, OMZI2C_CHIPSET.
. /test/lib.sh
vid=${OMZI2C_VID:-0x8086}
did=${OMZI2C_DID:-0x7113}
func=${OMZI2C_FUNC:-3}
chipset=${OMZI2C_CHIPSET:-4}

# expect_failure WHAT STATUS-TEXT DID ARGS...
expect_failure() {
  local what=$1 text=$2 id=$3
  shift 3
  echo "\$ omzi2c --board ports --chipset $chipset --vid $vid --did $id --func $func -y $*"
  run_status status out err omzi2c --board ports --chipset "$chipset" --vid "$vid" --did "$id" \
    --func "$func" -y "$@"
  echo "$out"
  echo "stderr: $err"
  expect_equal "$what: exit status" 2 "$status"
  expect_equal "$what: nothing on stdout" "" "$out"
  case "$err" in
    *$text*) ok "$what: the message names $text" ;;
    *) failed "$what: the message does not name $text" ;;
  esac
}

expect_failure "info" STATUS_NO_SUCH_DEVICE "$did" info
expect_failure "get 0x50 0x00" STATUS_NO_SUCH_DEVICE "$did" get 0x50 0x00
finish
