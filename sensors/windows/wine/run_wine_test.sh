#!/usr/bin/env bash
# The shipped driver image end to end: omzi2c.sys runs in Wine's kernel
# services host (winedevice.exe) over a test hal.dll backed by the simulated
# board, driven by the Windows build of the omzi2c tool; every result is
# compared with the Linux build of the same kernel sources running the same
# requests on the same board.
#
# usage: run_wine_test.sh --sys omzi2c.sys --exe omzi2c.exe --hal hal.dll
#                         --inf omzi2c.inf --tool LINUX-OMZI2C --requests DIR
#                         --work DIR [--arch x86|x64] [--fail-fast]
#                         [--cases "NAME..."] [--break import|control-code]
#                         [--shard K/N]
#
# --arch is the driver image's architecture (x86 when not given): x64 runs it
# in a 64-bit prefix, whose 64-bit kernel host loads the x64 hal.dll given
# with --hal, and installs the service from the INF's NTamd64 sections. The
# client (--exe) may be of either architecture: a 32-bit omzi2c.exe against
# the x64 driver sends the same records as the 64-bit one.
#
# For each case: a fresh Wine session; the driver's Parameters (the INF's
# values with the case's changes) go to the registry and, as the same .reg
# file, to the Linux tool's --config; board faults go to the test HAL's
# omzi2c-board.txt and to the Linux tool's --fault. Then:
#   - start-up: the status DriverEntry returned (Wine's relay trace of the
#     driver's init routine) against the status the Linux build starts with,
#     and `net start` succeeds exactly when that status is success;
#   - requests: the same request file runs through `omzi2c -y shell` on both;
#     standard output (status, transferred length and reply of every raw
#     request, the tool's data for every command), standard error and the
#     exit status must be identical. Wine's console output has CRLF line ends,
#     which are turned into LF before comparing.
#   - stop: `net stop` succeeds, the driver's unload routine ran, the device
#     is gone, and a second start behaves as the first.
# Where Wine 8.0 differs from Windows, the test leaves room rather than
# asking the driver to differ: a value missing from Parameters fails Wine's
# whole direct registry query (the driver's default applies either way, so
# only the outcome is compared); the status block's byte count is left as
# it was on a failure status (the client reads it only for success and
# warning statuses, as Windows fills it); a close request may reach the
# driver late (nothing here depends on when); an import no kernel exports
# is bound to a stub that aborts when called, so such an image loads and
# fails at its first call; and the service processes end a few seconds
# after a session's last ordinary process, so one is kept waiting.
#
# Exits 0 when every comparison holds; 1 on the first difference with
# --fail-fast, else after all cases; 2 when the test itself cannot run; 77
# (skipped) when Wine is not installed, or when the image or the client is
# 32-bit and this machine cannot execute 32-bit x86 programs.
#
# --shard K/N runs the K-th of N shares of the cases (every N-th case,
# from the K-th on), so that N runs with work folders of their own (each its
# own prefix and Wine server) can go side by side on a machine's cores.
#
# --client DLL SAMPLE MUTEX-TEST --linux-sample PATH runs, instead of the
# cases below, the client library's case: the driver started on Chipset 2,
# the C sample reads the DDR3 module's 256 bytes through omzi2c.dll (DLL),
# compared with the same sample built on Linux over libomzi2c.so (PATH) on
# the same parameters; then the mutex test program's cases (delay, abandon,
# opt-out) must each pass. The DLL and the programs may be 32-bit against
# the x64 driver (WOW64).
#
# --break checks the test itself: it installs a deliberately damaged copy of
# the image, which must make the comparisons fail. import: one imported
# kernel routine renamed to one no kernel exports (the image does not load);
# control-code: the port-read control code the driver compares against
# changed from 0x80076004 to 0x80076008 (every port read is refused).
set -uo pipefail

die() { echo "run_wine_test: $*" >&2; exit 2; }

SYS= EXE= HAL= INF= TOOL= REQUESTS= WORK= FAIL_FAST=0 ONLY= BREAK= ARCH=x86 SHARD=1 SHARDS=1
CLIENT_DLL= CLIENT_SAMPLE= CLIENT_MUTEX_TEST= LINUX_SAMPLE=
while [ $# -gt 0 ]; do
  case "$1" in
    --sys) SYS=$2; shift 2 ;;
    --exe) EXE=$2; shift 2 ;;
    --hal) HAL=$2; shift 2 ;;
    --inf) INF=$2; shift 2 ;;
    --tool) TOOL=$2; shift 2 ;;
    --requests) REQUESTS=$2; shift 2 ;;
    --work) WORK=$2; shift 2 ;;
    --fail-fast) FAIL_FAST=1; shift ;;
    --cases) ONLY=$2; shift 2 ;;
    --break) BREAK=$2; shift 2 ;;
    --arch) ARCH=$2; shift 2 ;;
    --shard) SHARD=${2%/*} SHARDS=${2#*/}; shift 2 ;;
    --client) CLIENT_DLL=$2 CLIENT_SAMPLE=$3 CLIENT_MUTEX_TEST=$4; shift 4 ;;
    --linux-sample) LINUX_SAMPLE=$2; shift 2 ;;
    *) die "unknown argument $1" ;;
  esac
done
[[ "$SHARD" =~ ^[0-9]+$ && "$SHARDS" =~ ^[0-9]+$ ]] && [ "$SHARD" -ge 1 ] &&
  [ "$SHARD" -le "$SHARDS" ] || die "--shard K/N with 1 <= K <= N"
CASE_NUMBER=0
for f in "$SYS" "$EXE" "$HAL" "$INF" "$TOOL"; do
  [ -f "$f" ] || die "missing file '$f'"
done
[ -d "$REQUESTS" ] || die "missing request folder '$REQUESTS'"
[ -n "$WORK" ] || die "--work DIR is needed"
case "$ARCH" in
  x86) WINEARCH=win32 INF_ARCH=NTx86 ;;
  x64) WINEARCH=win64 INF_ARCH=NTamd64 ;;
  *) die "--arch x86 or x64, not '$ARCH'" ;;
esac

# The machine a PE image is built for: i386 or amd64 (from its COFF header).
pe_machine() {
  local pe
  pe=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')
  case "$(od -An -tx2 -j$((pe + 4)) -N2 "$1" | tr -d ' ')" in
    014c) echo i386 ;;
    8664) echo amd64 ;;
    *) echo unknown ;;
  esac
}
EXPECTED_MACHINE=i386
[ "$ARCH" = x64 ] && EXPECTED_MACHINE=amd64
[ "$(pe_machine "$SYS")" = "$EXPECTED_MACHINE" ] || die "$SYS is not an $ARCH image"
[ "$(pe_machine "$HAL")" = "$EXPECTED_MACHINE" ] || die "$HAL is not an $ARCH HAL"
CLIENT_32BIT=0
if [ -n "$CLIENT_DLL" ]; then
  for f in "$CLIENT_DLL" "$CLIENT_SAMPLE" "$CLIENT_MUTEX_TEST" "$LINUX_SAMPLE"; do
    [ -f "$f" ] || die "missing file '$f'"
  done
  [ "$(pe_machine "$CLIENT_DLL")" = i386 ] && CLIENT_32BIT=1
fi
if [ "$ARCH" = x86 ] || [ "$(pe_machine "$EXE")" = i386 ] || [ "$CLIENT_32BIT" = 1 ]; then
  if ! why=$("$(dirname "$0")/../../scripts/can-run-32bit"); then
    echo "skipped: $why, which 32-bit Wine needs"
    exit 77
  fi
  WINE_PACKAGES="wine wine32 (with the i386 architecture)"
else
  WINE_PACKAGES="wine wine64"
fi
if ! command -v wine >/dev/null || ! command -v wineserver >/dev/null; then
  echo "skipped: wine is not installed (Debian packages $WINE_PACKAGES)"
  exit 77
fi
if [ "$ARCH" = x64 ] && ! command -v wine64 >/dev/null && [ ! -x /usr/lib/wine/wine64 ]; then
  echo "skipped: 64-bit Wine is not installed (Debian packages wine wine64)"
  exit 77
fi

# Wine's programs read no terminal here; the client gets its request files.
exec </dev/null
mkdir -p "$WORK"
WORK=$(cd "$WORK" && pwd)
SYS=$(realpath "$SYS") EXE=$(realpath "$EXE") HAL=$(realpath "$HAL")
INF=$(realpath "$INF") TOOL=$(realpath "$TOOL") REQUESTS=$(realpath "$REQUESTS")
if [ -n "$CLIENT_DLL" ]; then
  CLIENT_DLL=$(realpath "$CLIENT_DLL") CLIENT_SAMPLE=$(realpath "$CLIENT_SAMPLE")
  CLIENT_MUTEX_TEST=$(realpath "$CLIENT_MUTEX_TEST") LINUX_SAMPLE=$(realpath "$LINUX_SAMPLE")
fi

export WINEARCH
export WINEPREFIX="$WORK/prefix"
export WINEDEBUG=-all
unset DISPLAY WAYLAND_DISPLAY
BASE_OVERRIDES="mscoree,mshtml="
export WINEDLLOVERRIDES="$BASE_OVERRIDES"
# Wine's own programs and the client get this guard against a hang; no
# result depends on time.
GUARD="timeout 300"

SERVICE=omzi2c
SYSTEM32="$WINEPREFIX/drive_c/windows/system32"
CASES="$WORK/cases"
PASSED=0 FAILED=0

# A Windows path for a file of this machine (Wine's Z: is the root).
windows_path() { local p=${1//\//\\}; printf 'Z:%s' "$p"; }

KEEPER_PID=
stop_session() {
  wineserver -k >/dev/null 2>&1
  wineserver -w >/dev/null 2>&1
  if [ -n "$KEEPER_PID" ]; then
    exec 9>&- 8>&-
    wait "$KEEPER_PID" 2>/dev/null
    KEEPER_PID=
  fi
  true
}
trap stop_session EXIT

fail() {
  echo "FAIL: $*"
  FAILED=$((FAILED + 1))
  if [ "$FAIL_FAST" = 1 ]; then
    echo "$PASSED passed, $FAILED failed"
    exit 1
  fi
}
pass() { echo "ok:   $*"; PASSED=$((PASSED + 1)); }

# ---------------------------------------------------------------- the INF
# The service entries and the Parameters the INF installs. Only what the
# INF says is used: the service's section, its type, start type, error
# control and binary, and the REG_DWORD lines of its AddReg section.
inf_section() {  # prints the lines of [NAME], comments and blanks dropped
  awk -v want="$1" '
    { sub(/\r$/, ""); line = $0; sub(/;.*/, "", line) }
    line ~ /^[ \t]*\[/ {
      name = line; gsub(/^[ \t]*\[|\][ \t]*$/, "", name)
      inside = (tolower(name) == tolower(want)); next
    }
    inside && line ~ /[^ \t]/ { print line }' "$INF"
}
inf_value() {  # KEY in the lines on stdin: its value, trimmed
  awk -v key="$1" '{
    k = substr($0, 1, index($0, "=") - 1); gsub(/[ \t]/, "", k)
    if (index($0, "=") && tolower(k) == tolower(key)) {
      v = substr($0, index($0, "=") + 1); gsub(/^[ \t]+|[ \t]+$/, "", v); print v; exit
    }
  }'
}

# The install sections decorated for this architecture, as setup picks them.
SERVICE_SECTION=$(inf_section "DefaultInstall.$INF_ARCH.Services" | inf_value AddService | awk -F, '{ gsub(/[ \t]/, "", $3); print $3 }')
[ -n "$SERVICE_SECTION" ] || die "$INF: no AddService line in [DefaultInstall.$INF_ARCH.Services]"
SERVICE_LINES=$(inf_section "$SERVICE_SECTION")
SERVICE_TYPE=$(echo "$SERVICE_LINES" | inf_value ServiceType)
START_TYPE=$(echo "$SERVICE_LINES" | inf_value StartType)
ERROR_CONTROL=$(echo "$SERVICE_LINES" | inf_value ErrorControl)
BINARY=$(echo "$SERVICE_LINES" | inf_value ServiceBinary)
ADDREG=$(echo "$SERVICE_LINES" | inf_value AddReg)
case "$BINARY" in
  %12%\\*) IMAGE_PATH="\\SystemRoot\\System32\\drivers\\${BINARY#%12%\\}" ;;
  *) die "$INF: ServiceBinary '$BINARY' is not under %12%" ;;
esac
# "Name value" for each REG_DWORD value (flags 0x00010001, possibly with
# 0x2, keep-existing) that the AddReg section puts under Parameters.
INF_PARAMETERS=$(inf_section "$ADDREG" | while IFS=, read -r root subkey name flags value; do
  root=$(echo $root) subkey=$(echo $subkey) name=$(echo $name) flags=$(echo $flags) value=$(echo $value)
  [ "${root^^}" = HKR ] && [ "${subkey,,}" = parameters ] || continue
  [ $((flags & ~0x2)) -eq $((0x00010001)) ] || continue
  echo "$name $value"
done)
[ "$(echo "$INF_PARAMETERS" | wc -l)" -eq 6 ] || die "$INF: expected six Parameters, got: $INF_PARAMETERS"

dword() { printf 'dword:%08x' "$(($1 & 0xFFFFFFFF))"; }

# A .reg file with the INF's Parameters changed by NAME=VALUE words
# (NAME=absent leaves the value out; a NAME the INF lacks is added).
write_parameters() {
  local file=$1; shift
  {
    printf 'REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\%s\\Parameters]\r\n' "$SERVICE"
    echo "$INF_PARAMETERS" | while read -r name value; do
      for change in "$@"; do
        [ "${change%%=*}" = "$name" ] && value=${change#*=}
      done
      [ "$value" = absent ] && continue
      printf '"%s"=%s\r\n' "$name" "$(dword "$value")"
    done
    # Values the INF does not install (HostFunction) are added as given.
    for change in "$@"; do
      echo "$INF_PARAMETERS" | grep -q "^${change%%=*} " && continue
      printf '"%s"=%s\r\n' "${change%%=*}" "$(dword "${change#*=}")"
    done
  } > "$file"
}

# ---------------------------------------------------------------- the prefix
prepare_prefix() {
  stop_session
  rm -rf "$WINEPREFIX"
  echo "creating a $WINEARCH prefix in $WINEPREFIX"
  $GUARD wine cmd /c exit </dev/null >"$WORK/prefix.log" 2>&1 || die "wine could not create the prefix (see $WORK/prefix.log)"
  wineserver -w
  [ -d "$SYSTEM32/drivers" ] || die "no system32\\drivers in the new prefix"
  cp "$SYS" "$SYSTEM32/drivers/$SERVICE.sys"
  if [ -n "$BREAK" ]; then
    local from to
    case "$BREAK" in
      import) from='ZwCreateEvent' to='ZwCreateEvenX' ;;
      control-code) from='\x04\x60\x07\x80' to='\x08\x60\x07\x80' ;;
      *) die "--break import or control-code, not '$BREAK'" ;;
    esac
    perl -0777 -pi -e "s/$from/$to/g" "$SYSTEM32/drivers/$SERVICE.sys"
    cmp -s "$SYS" "$SYSTEM32/drivers/$SERVICE.sys" && die "--break $BREAK changed nothing"
    echo "installed a damaged image (--break $BREAK)"
  fi
  # The test HAL replaces the placeholder where the driver host loads it.
  cp "$HAL" "$SYSTEM32/hal.dll"
  {
    printf 'REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\%s]\r\n' "$SERVICE"
    printf '"Type"=%s\r\n"Start"=%s\r\n"ErrorControl"=%s\r\n' \
      "$(dword "$SERVICE_TYPE")" "$(dword "$START_TYPE")" "$(dword "$ERROR_CONTROL")"
    printf '"ImagePath"="%s"\r\n\r\n' "${IMAGE_PATH//\\/\\\\}"
    # Relay tracing for nothing but the kernel host's own lines, among them
    # the status each driver's init routine returns.
    printf '[HKEY_CURRENT_USER\\Software\\Wine\\Debug]\r\n"RelayInclude"="%s-no-such-function"\r\n' "$SERVICE"
    # Wine's service manager gives a starting service 10 s to answer; a
    # machine busy with other builds can take longer to start the kernel host.
    printf '\r\n[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control]\r\n"ServicesPipeTimeout"="120000"\r\n'
  } > "$WORK/service.reg"
  $GUARD wine regedit /S "$(windows_path "$WORK/service.reg")" >>"$WORK/prefix.log" 2>&1 || die "regedit failed"
  stop_session  # the service list is read when a session starts
}

# ---------------------------------------------------------------- one case
# A session whose kernel host loads the test HAL and traces driver init and
# unload into $dir/session.log; Parameters from $dir/parameters.reg; board
# adjustments from $dir/board.txt.
start_session() {
  local dir=$1
  stop_session
  cp "$dir/board.txt" "$SYSTEM32/omzi2c-board.txt"
  # The first process of the session hands its output to the kernel host;
  # it is also the one that keeps the session: Wine ends the service
  # processes a few seconds after the last ordinary process of a session
  # exits, so a command interpreter waiting on a pipe that nothing writes
  # stays until the session is stopped. (Were it a second process, started
  # after a first one had ended, a loaded machine could end the session in
  # between and the kernel host would come back with no output.) Nothing else
  # starts before it has answered a command, which it does once the session
  # is up.
  rm -f "$dir/keeper" "$dir/keeper-answers"
  mkfifo "$dir/keeper" "$dir/keeper-answers"
  exec 9<>"$dir/keeper" 8<>"$dir/keeper-answers"
  WINEDEBUG=-all,trace+relay WINEDLLOVERRIDES="$BASE_OVERRIDES;hal=n" \
    wine cmd <"$dir/keeper" >&8 2>>"$dir/session.log" 9>&- 8>&- &
  KEEPER_PID=$!
  echo "echo session-up" >&9
  local answer=
  while [[ "$answer" != *session-up* ]]; do
    IFS= read -r -t 300 -u 8 answer || die "the session did not start (see $dir/session.log)"
  done
  wineserver -p
  $GUARD wine reg delete "HKLM\\SYSTEM\\CurrentControlSet\\Services\\$SERVICE\\Parameters" /f >/dev/null 2>&1
  $GUARD wine regedit /S "$(windows_path "$dir/parameters.reg")" >/dev/null 2>&1
}

# The status the driver's init routine returned the Nth time (8 hex digits).
init_status() {
  grep -a "Ret  driver init .*Services\\\\\\\\$SERVICE\")" "$1/session.log" | sed -n "${2}p" |
    sed -n 's/.*retval=\([0-9a-fA-F]\{8\}\).*/\1/p' | tr 'A-F' 'a-f'
}
unload_count() { grep -ac "Ret  driver unload" "$1/session.log"; }

# The Linux build's start-up status for the case (8 hex digits).
linux_start_status() {
  local dir=$1; shift
  if "$TOOL" --config "$dir/parameters.reg" "$@" info >"$dir/linux-start.out" 2>&1; then
    echo 00000000
  else
    sed -n 's/.*did not start: .*, 0x\([0-9A-Fa-f]\{8\}\))$/\1/p' "$dir/linux-start.out" | tr 'A-F' 'a-f'
  fi
}

# net start; compares the init status with Linux's. $3: which start (1, 2).
check_start() {
  local name=$1 dir=$2 nth=$3 expected=$4 rc
  $GUARD wine net start "$SERVICE" >"$dir/net-start-$nth.out" 2>&1
  rc=$?
  local got
  got=$(init_status "$dir" "$nth")
  if [ -z "$expected" ]; then
    fail "$name: the Linux build gave no start-up status ($(cat "$dir/linux-start.out"))"
  elif [ -z "$got" ]; then
    fail "$name: start $nth: the driver's init routine did not return (net start said: $(tr -d '\r' <"$dir/net-start-$nth.out" | tr '\n' ' '))"
  elif [ "$got" != "$expected" ]; then
    fail "$name: start $nth: DriverEntry returned 0x$got under Wine, 0x$expected on Linux"
  elif [ "$expected" = 00000000 ] && [ $rc -ne 0 ]; then
    fail "$name: start $nth: DriverEntry succeeded but net start failed: $(tr -d '\r' <"$dir/net-start-$nth.out")"
  elif [ "$expected" != 00000000 ] && [ $rc -eq 0 ]; then
    fail "$name: start $nth: DriverEntry returned 0x$got but net start succeeded"
  else
    pass "$name: start $nth: DriverEntry 0x$got on both, net start exit $rc"
    return 0
  fi
  return 1
}

# Runs the request files of one driver start on both builds and compares.
# The files are joined into one script that both builds read through one
# `omzi2c -y shell`: one client process under Wine, one session on Linux, so
# that state the board keeps between the files (written registers, host
# status) is the same and the shell numbers the script's lines alike in the
# messages it prints.
check_requests() {
  local name=$1 dir=$2 tag=$3 files=$4; shift 4
  local wine_rc linux_rc file
  : >"$dir/requests-$tag.txt"
  for file in $files; do
    cat "$REQUESTS/$file" >>"$dir/requests-$tag.txt"
  done
  $GUARD wine "$EXE" -y shell <"$dir/requests-$tag.txt" >"$dir/wine-$tag.raw" 2>"$dir/wine-$tag.err.raw"
  wine_rc=$?
  tr -d '\r' <"$dir/wine-$tag.raw" >"$dir/wine-$tag.out"
  tr -d '\r' <"$dir/wine-$tag.err.raw" >"$dir/wine-$tag.err"
  "$TOOL" --config "$dir/parameters.reg" "$@" -y shell <"$dir/requests-$tag.txt" \
    >"$dir/linux-$tag.out" 2>"$dir/linux-$tag.err"
  linux_rc=$?
  # A failed read's error reply reaches only the Linux build (Windows copies
  # no output of a failed request): the line decoding it is not compared.
  grep -v '^\(line [0-9]*: \)\?  host reported: ' "$dir/linux-$tag.err" \
    >"$dir/linux-$tag.err.compared"
  local problems=
  cmp -s "$dir/linux-$tag.out" "$dir/wine-$tag.out" || problems="$problems standard-output"
  cmp -s "$dir/linux-$tag.err.compared" "$dir/wine-$tag.err" || problems="$problems standard-error"
  [ $wine_rc = $linux_rc ] || problems="$problems exit-status(linux $linux_rc, wine $wine_rc)"
  if [ -n "$problems" ]; then
    diff -u --label linux "$dir/linux-$tag.out" --label wine "$dir/wine-$tag.out" | head -40
    diff -u --label linux "$dir/linux-$tag.err.compared" --label wine "$dir/wine-$tag.err" | head -20
    fail "$name: $files: differs:$problems"
    return 1
  fi
  pass "$name: $files: identical ($(wc -l <"$dir/linux-$tag.out") lines, $(grep -c '^status ' "$dir/linux-$tag.out") raw requests, exit $linux_rc)"
}

check_stop() {
  local name=$1 dir=$2 nth=$3 rc
  $GUARD wine net stop "$SERVICE" >"$dir/net-stop-$nth.out" 2>&1
  rc=$?
  if [ $rc -ne 0 ]; then
    fail "$name: net stop failed: $(tr -d '\r' <"$dir/net-stop-$nth.out")"
    return 1
  fi
  if $GUARD wine "$EXE" info >"$dir/after-stop-$nth.out" 2>&1; then
    fail "$name: the device still opens after net stop"
    return 1
  fi
  if [ "$(unload_count "$dir")" -lt "$nth" ]; then
    fail "$name: net stop succeeded but the driver's unload routine did not run"
    return 1
  fi
  pass "$name: net stop, unload ran, device gone"
}

# run_case NAME "PARAMETER CHANGES" "BOARD WORDS" "REQUEST FILES" [OPTIONS]
# Board words: fault=NAME (both builds) or a placement word such as
# did=0x1234 (the test HAL only: the Linux tool's board always follows the
# Parameters, so such a case names the start-up status it expects with
# expect=XXXXXXXX among the options). Option restart: stop and start again.
run_case() {
  local name=$1 changes=$2 words=$3 requests=$4 options=${5:-}
  if [ -n "$ONLY" ] && [[ " $ONLY " != *" $name "* ]]; then return; fi
  CASE_NUMBER=$((CASE_NUMBER + 1))
  [ $(((CASE_NUMBER - 1) % SHARDS + 1)) -eq "$SHARD" ] || return 0
  local dir="$CASES/$name"
  rm -rf "$dir"; mkdir -p "$dir"
  # shellcheck disable=SC2086
  write_parameters "$dir/parameters.reg" $changes
  local linux_faults=() word
  {
    echo "log=$(windows_path "$dir/board.log")"
    for word in $words; do echo "$word"; done
  } > "$dir/board.txt"
  for word in $words; do
    case "$word" in fault=*) linux_faults+=(--fault "${word#fault=}") ;; esac
  done

  local expected="" rounds=1 option
  for option in $options; do
    case "$option" in
      restart) rounds=2 ;;
      expect=*) expected=${option#expect=} ;;
    esac
  done
  [ -n "$expected" ] || expected=$(linux_start_status "$dir")
  start_session "$dir"
  local round
  for round in $(seq 1 $rounds); do
    check_start "$name" "$dir" "$round" "$expected" || break
    [ "$expected" = 00000000 ] || break
    [ -z "$requests" ] ||
      check_requests "$name" "$dir" "$round" "$requests" ${linux_faults[@]+"${linux_faults[@]}"}
    check_stop "$name" "$dir" "$round" || break
  done
  stop_session
}

# ---------------------------------------------------------------- the library
# The client library's case (see --client above).
run_client_case() {
  local name=client dir="$CASES/client" bin="$WORK/client-programs"
  rm -rf "$dir" "$bin"; mkdir -p "$dir" "$bin"
  # The programs find omzi2c.dll beside them, as an installed program would.
  cp "$CLIENT_DLL" "$CLIENT_SAMPLE" "$CLIENT_MUTEX_TEST" "$bin/"
  write_parameters "$dir/parameters.reg" $SMB Chipset=2
  echo "log=$(windows_path "$dir/board.log")" >"$dir/board.txt"
  local expected
  expected=$(linux_start_status "$dir")
  start_session "$dir"
  if check_start "$name" "$dir" 1 "$expected"; then
    local sample wine_rc linux_rc
    sample="$bin/$(basename "$CLIENT_SAMPLE")"
    $GUARD wine "$sample" 0x50 0 256 >"$dir/wine-read.raw" 2>"$dir/wine-read.err"
    wine_rc=$?
    tr -d '\r' <"$dir/wine-read.raw" >"$dir/wine-read.out"
    OMZI2C_OPTIONS="--config $dir/parameters.reg" "$LINUX_SAMPLE" 0x50 0 256 \
      >"$dir/linux-read.out" 2>"$dir/linux-read.err"
    linux_rc=$?
    if [ $wine_rc -ne 0 ] || [ $linux_rc -ne 0 ] || ! cmp -s "$dir/linux-read.out" "$dir/wine-read.out" ||
       [ "$(wc -w <"$dir/wine-read.out")" -ne 256 ]; then
      diff -u --label linux "$dir/linux-read.out" --label wine "$dir/wine-read.out" | head -10
      fail "$name: the DDR3 module through omzi2c.dll differs (exit linux $linux_rc, wine $wine_rc: $(tr -d '\r' <"$dir/wine-read.err"))"
    else
      pass "$name: the DDR3 module's 256 bytes through omzi2c.dll, as through libomzi2c.so"
    fi
    local mutex_case
    for mutex_case in delay abandon opt-out; do
      $GUARD wine "$bin/$(basename "$CLIENT_MUTEX_TEST")" "$mutex_case" >"$dir/mutex-$mutex_case.raw" 2>&1
      wine_rc=$?
      tr -d '\r' <"$dir/mutex-$mutex_case.raw" >"$dir/mutex-$mutex_case.out"
      if [ $wine_rc -eq 0 ] && ! grep -q '^FAIL' "$dir/mutex-$mutex_case.out"; then
        pass "$name: mutex $mutex_case ($(grep -c '^ok' "$dir/mutex-$mutex_case.out") checks)"
      else
        cat "$dir/mutex-$mutex_case.out"
        fail "$name: mutex $mutex_case (exit $wine_rc)"
      fi
    done
    check_stop "$name" "$dir" 1
  fi
  stop_session
}

# ---------------------------------------------------------------- the cases
rm -rf "$CASES"
mkdir -p "$CASES"
prepare_prefix
echo "INF parameters: $(echo $INF_PARAMETERS)"

SMB="ISAPortDriverEnable=1 I2CDriverEnable=1 VID=0x8086 DID=0x2930 Func=3"

if [ -n "$CLIENT_DLL" ]; then
  run_client_case
  echo "$PASSED passed, $FAILED failed"
  [ "$FAILED" -eq 0 ]
  exit
fi

# Port service only, as the INF installs it.
run_case port-only "" "" "port.txt"
# SMBus service on the byte-done hosts, and the port service beside it.
run_case chipset-2 "$SMB Chipset=2" "" "smbus.txt port.txt" restart
run_case chipset-3 "$SMB Chipset=3 ISAPortDriverEnable=0" "" "smbus.txt"
# Error replies from injected faults.
run_case fault-device-error "$SMB Chipset=2" "fault=device-error" "fault.txt"
run_case fault-nak "$SMB Chipset=2" "fault=nak" "fault.txt"
run_case fault-busy-stuck "$SMB Chipset=2" "fault=busy-stuck" "fault.txt"
run_case fault-block-count-33 "$SMB Chipset=2" "fault=block-count-33" "fault.txt"
# The paced-poll hosts: every request, messages on Chipset 5 and 6, and the
# faults of their failure table (LastHostStatus in the error replies).
run_case chipset-4 "$SMB Chipset=4" "" "smbus.txt"
run_case chipset-5 "$SMB Chipset=5" "" "smbus.txt message.txt"
run_case chipset-6 "$SMB Chipset=6" "" "message.txt smbus.txt"
run_case fault-4-second-busy-stuck "$SMB Chipset=4" "fault=second-busy-stuck" "fault.txt"
run_case fault-4-never-finishes "$SMB Chipset=4" "fault=never-finishes" "fault.txt"
run_case fault-5-busy-stuck "$SMB Chipset=5" "fault=busy-stuck" "fault.txt message.txt"
run_case fault-5-never-starts "$SMB Chipset=5" "fault=never-starts" "fault.txt"
run_case fault-6-collision "$SMB Chipset=6" "fault=collision" "fault.txt message.txt"
run_case fault-6-block-count-0 "$SMB Chipset=6" "fault=block-count-0" "fault.txt"
run_case fault-6-loses-config "$SMB Chipset=6" "fault=loses-config" "fault.txt"
# The start-port host (Chipset 1) and the dual-status host (Chipset 8, 9).
run_case chipset-1 "$SMB Chipset=1" "" "smbus.txt port.txt"
run_case chipset-8 "$SMB Chipset=8" "" "smbus.txt"
run_case chipset-9 "$SMB Chipset=9 ISAPortDriverEnable=0" "" "smbus.txt"
# Their failures, each reaching a result of its own.
run_case chipset-1-busy-stuck "$SMB Chipset=1" "fault=busy-stuck" "fault.txt"
run_case chipset-1-not-idle "$SMB Chipset=1" "fault=not-idle" "fault.txt"
run_case chipset-1-done-late "$SMB Chipset=1" "fault=done-late" "fault.txt"
run_case chipset-1-bus-error "$SMB Chipset=1" "fault=collision" "fault.txt"
run_case chipset-1-block-count-0 "$SMB Chipset=1" "fault=block-count-0" "fault.txt"
run_case chipset-8-second-busy-stuck "$SMB Chipset=8" "fault=second-busy-stuck" "fault.txt"
run_case chipset-8-never-starts "$SMB Chipset=8" "fault=never-starts" "fault.txt"
run_case chipset-8-collision "$SMB Chipset=8" "fault=collision" "fault.txt"
run_case chipset-9-failed "$SMB Chipset=9" "fault=failed" "fault.txt"
run_case chipset-9-nak "$SMB Chipset=9" "fault=nak" "fault.txt"
run_case chipset-9-block-count-33 "$SMB Chipset=9" "fault=block-count-33" "fault.txt"
# The embedded-controller host, its status codes (any status byte but 0x80
# fails) and a stuck handshake flag.
run_case chipset-10 "$SMB Chipset=10" "" "smbus.txt embedded_controller.txt" restart
run_case fault-ec-status-12 "$SMB Chipset=10" "fault=ec-status-12" "fault.txt"
run_case fault-ec-status-90 "$SMB Chipset=10" "fault=ec-status-90" "fault.txt"
run_case fault-ec-status-00 "$SMB Chipset=10" "fault=ec-status-00" "fault.txt"
run_case fault-ec-status-85 "$SMB Chipset=10" "fault=ec-status-85" "fault.txt"
run_case fault-ec-input-stuck "$SMB Chipset=10" "fault=ec-input-stuck" "fault.txt"
run_case fault-ec-event-stuck "$SMB Chipset=10" "fault=ec-event-stuck" "fault.txt"
# The chunk-buffer host (Chipset 7) on the fault cases' requests with no
# fault injected: the raw requests there (short buffers, the reserved code)
# on a healthy host of this kind.
run_case chipset-7-fault-requests "$SMB Chipset=7" "" "fault.txt"
# The chunk-buffer host (Chipset 7): requests, then each of its faults; both
# error flags at once show which one wins.
run_case chipset-7 "$SMB Chipset=7" "" "smbus.txt port.txt" restart
for fault in busy-stuck second-busy-stuck never-starts never-finishes device-error collision \
             block-count-0 block-count-33 chunk-flag-stuck nak; do
  run_case "chipset-7-$fault" "$SMB Chipset=7" "fault=$fault" "fault.txt"
done
run_case chipset-7-both-error-flags "$SMB Chipset=7" "fault=device-error fault=collision" "fault.txt"
# Start-up failures.
run_case both-disabled "ISAPortDriverEnable=0x100 I2CDriverEnable=0" "" ""
run_case bad-chipset "$SMB Chipset=11" "" ""
run_case chipset-absent "$SMB Chipset=absent" "" ""
run_case func-absent "$SMB Chipset=2 Func=absent" "" ""
run_case controller-absent "$SMB Chipset=0" "" ""
# HostFunction naming the host's own function changes nothing; above 7 it
# stops the start.
run_case host-function-own "$SMB Chipset=2 HostFunction=3" "" "smbus.txt"
run_case host-function-8 "$SMB Chipset=2 HostFunction=8" "" ""
# The controller's device is not on the bus: the board carries another
# device ID than the Parameters name (STATUS_NO_SUCH_DEVICE).
run_case controller-not-on-bus "$SMB Chipset=2" "did=0x2931" "" expect=c000000e

echo "$PASSED passed, $FAILED failed"
[ "$FAILED" -eq 0 ]
