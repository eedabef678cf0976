#!/usr/bin/env bash
# Runs the built tavctl against the virtual board and checks output and exit
# status of every sub-command, of scripts and of bad input.
set -u
tavctl=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

passed=0
failed=0
RUNNER=""

# check NAME EXPECTED_STATUS PATTERN_STDOUT PATTERN_STDERR -- ARGS...
# Patterns are extended regular expressions ('' = anything); stderr must be
# empty when the status is 0 unless a pattern is given.
check() {
    local name=$1 want_status=$2 want_out=$3 want_err=$4
    shift 5
    $RUNNER "$tavctl" "$@" >"$work/out" 2>"$work/err" <"${STDIN_FILE:-/dev/null}"
    local status=$?
    local problem=""
    [ "$status" -eq "$want_status" ] || problem="exit status $status, expected $want_status"
    if [ -z "$problem" ] && [ -n "$want_out" ] && ! grep -Eq -- "$want_out" "$work/out"; then
        problem="stdout lacks /$want_out/"
    fi
    if [ -z "$problem" ] && [ -n "$want_err" ] && ! grep -Eq -- "$want_err" "$work/err"; then
        problem="stderr lacks /$want_err/"
    fi
    if [ -z "$problem" ] && [ "$want_status" -ne 0 ] && [ "$(wc -l <"$work/err")" -ne 1 ]; then
        problem="an error must be exactly one line on stderr"
    fi
    if [ -z "$problem" ] && [ "$want_status" -eq 0 ] && [ -z "$want_err" ] && [ -s "$work/err" ]; then
        problem="unexpected stderr"
    fi
    if [ -n "$problem" ]; then
        failed=$((failed + 1))
        echo "FAIL: $name: $problem"
        sed 's/^/    out: /' "$work/out" | head -n 20
        sed 's/^/    err: /' "$work/err" | head -n 5
    else
        passed=$((passed + 1))
        echo "ok: $name"
    fi
}

view_line() { # the board view's row of one pin
    grep -E "^  $1 " "$work/out"
}

# --- information --------------------------------------------------------
check "list names the virtual board" 0 '^sim:T  4c52:0101  TAV board' '' -- --sim list
check "info names model and firmware" 0 '^model: S$' '' -- --sim=S info
check "a virtual board by selector" 0 '^model: C$' '' -- --device sim:C info
check "--sim and --device together" 2 '' "give one" -- --sim --device 1:3 info
check "device that does not exist" 1 '' "no TAV board at usb:1:9" -- --device usb:1:9 info
check "malformed device" 2 '' "BUS:DEV" -- --device 19 info
check "missing board" 1 '' "no board found" -- info
check "sim view follows the commands" 0 'P4\.0   0x40000001  PB0   floating input' '' -- --sim info

# --- bring-up and safe state ----------------------------------------------
check "init releases the debug pins" 0 'P8\.13  0x80002000  PA13  floating input' '' -- --sim init
check "init value" 0 'start-up value 258' '' -- --sim init 258
check "init bad value" 2 '' "start-up value 'x' is not a number" -- --sim init x
check "safe" 0 'safe state' '' -- --sim safe

# --- pins -----------------------------------------------------------------
check "pin output names the microcontroller pins" 0 'P4\.0 \(PB0\), P4\.1 \(PB1\): push-pull output' '' -- --sim pin output P4.0-1
check "pin names on model S" 0 'P4\.0 \(PA13\)' '' -- --sim=S pin output P4.0
check "raw identifier" 0 'P8\.16 \(PC15\): high' '' -- --sim pin set 0x80010000
check "write low" 0 'P4\.5 \(PB5\): low' '' -- --sim pin write P4.5 low
check "write needs a value" 2 '' "needs a VALUE" -- --sim pin write P4.5
check "set takes no value" 2 '' "takes no VALUE" -- --sim pin set P4.5 1
check "unknown pin name" 2 '' "unknown pin name 'Q1'" -- --sim pin set Q1
check "pin that does not exist" 2 '' "pin P4\.16 does not exist" -- --sim pin set P4.16
check "raw identifier past the bank" 1 '' "pin P4\.16 does not exist" -- --sim pin set 0x40010000
check "identifier without a bank" 2 '' "0x10000001 names no bank" -- --sim pin set 0x10000001
check "identifier without a pin" 2 '' "0x40000000 names no pin" -- --sim pin set 0x40000000
check "hex without 0x" 2 '' "did you mean 0x40000001\?" -- --sim pin set 40000001
check "leading zero is decimal, not octal" 2 '' "0x0000000A names no bank" -- --sim pin set 010
check "decimal identifier" 0 'P4\.0 \(PB0\): high' '' -- --sim pin set 1073741825
check "no mapping on model C" 1 '' "pin P8\.3 has no mapping on board model C" -- --sim=C pin set P8.3
check "backwards range" 2 '' "runs backwards" -- --sim pin set P4.3-1
check "unknown action" 2 '' "ACTION" -- --sim pin toggle P4.0

"$tavctl" --sim run - >"$work/out" 2>&1 <<'SCRIPT'
pin output P4.0,P8.0
pin set P4.0
SCRIPT
if view_line "P4.0" | grep -q "output high" && view_line "P8.0" | grep -q "output low"; then
    passed=$((passed + 1)); echo "ok: lists across banks reach the board"
else
    failed=$((failed + 1)); echo "FAIL: lists across banks reach the board"; cat "$work/out"
fi

# --- PWM --------------------------------------------------------------------
check "pwm start with percentages" 0 'channel 2 PA1 \(P8\.1\) +duty 18000/36000 \(50\.00%\)' '' -- --sim pwm start B --div 2 --duty 25%,50%
check "pwm start runs on the board" 0 'PA0   PWM TIM2 CH1, 1000 Hz, duty 9000/36000' '' -- --sim pwm start B --div 2 --duty 25%
check "pwm group A" 0 'PA10  PWM TIM1 CH3, 2000 Hz, duty 100/36000' '' -- --sim pwm start A --duty 100
check "pwm bad group" 2 '' "group 'D' does not exist" -- --sim pwm start D
check "pwm bad divider" 2 '' "divider 3 is not one of" -- --sim pwm start A --div 3
check "pwm too many duties" 2 '' "group A has 3 channels, 4 duties given" -- --sim pwm start A --duty 1,2,3,4
check "pwm duty above full scale" 2 '' "duty 36001 is above full scale" -- --sim pwm start B --duty 36001
check "pwm duty percentage too high" 2 '' "duty 101% is not a percentage" -- --sim pwm start B --duty 101%
check "pwm set channel out of range" 2 '' "group A has channels 1-3, not 4" -- --sim pwm set A 4 100
check "pwm set" 0 'channel 4 PA6 \(P8\.6\) +duty 100/36000' '' -- --sim pwm set C 4 100
check "pwm stop" 0 'all PWM stopped' '' -- --sim pwm stop
check "pwm needs a sub-command" 2 '' "" -- --sim pwm

# --- raw and decode ---------------------------------------------------------
check "raw sends and decodes" 0 'sent: GPIO_SetBits\(GPIOB, pin 0\)' '' -- --sim raw 1a 08 00 00 00 00 00 00 01 00 00 00 01
check "raw malformed hex" 2 '' "malformed hex" -- --sim raw 1g
check "raw too long" 2 '' "a record is 64 bytes, 65 given" -- --sim raw "$(printf '00%.0s' $(seq 65))"
check "decode hex" 0 '^TIM_OC4Init\(TIM3, PWM1, output enabled, pulse 100\)$' '' -- decode 22 05 00 00 00 00 00 00 02 00 00 00 60 00 00 00 01 00 00 00 00 00 00 00 64
check "decode odd digits" 2 '' "malformed hex" -- decode 1a0
printf '# reset nothing\n1a 09%s\n' "$(printf ' 00%.0s' $(seq 62))" >"$work/reset.hex"
check "decode a hex file" 0 'GPIO_ResetBits\(GPIOA, no pin\) -- rejected: pin mask of zero' '' -- decode "$work/reset.hex"
head -c 128 /dev/zero >"$work/two.bin"
printf '\x02\x01' | dd of="$work/two.bin" bs=1 seek=64 conv=notrunc 2>/dev/null
check "decode binary records" 0 '^2: BoardInfoRequest\(\)$' '' -- decode "$work/two.bin"
head -c 70 /dev/zero >"$work/partial.bin"
check "decode partial record" 2 '' "6 bytes at the end" -- decode "$work/partial.bin"
STDIN_FILE="$work/reset.hex" check "decode standard input" 0 'GPIO_ResetBits' '' -- decode -

# --- scripts ----------------------------------------------------------------
cat >"$work/good.tav" <<'SCRIPT'
# comment line
init            # bring-up
pin output P4.8-9
pin set P4.8

pwm start C --div 4 --duty 10%,20%,30%,40%
SCRIPT
check "script runs in one connection" 0 'P4\.8   0x40000100  PB8   output high' '' -- --sim run "$work/good.tav"
check "script PWM" 0 'PA6   PWM TIM3 CH1, 500 Hz, duty 14400/36000' '' -- --sim run "$work/good.tav"
printf 'init\npin set P4.99\npin set P4.1\n' >"$work/bad.tav"
check "script stops at the failing line" 2 '' "^tavctl: line 2: pin P4\.99 does not exist$" -- --sim run "$work/bad.tav"
printf 'frobnicate\n' >"$work/unknown.tav"
check "script unknown command" 2 '' "line 1: " -- --sim run "$work/unknown.tav"
printf 'run x\n' >"$work/nested.tav"
check "script cannot nest run" 2 '' "line 1: " -- --sim run "$work/nested.tav"
printf 'pin --help\npin set P4.1\n' >"$work/help.tav"
STDIN_FILE="$work/help.tav" check "script line asking for help" 0 'P4\.1 \(PB1\): high' '' -- --sim run -
check "missing script" 1 '' "cannot read script" -- --sim run "$work/none.tav"

# --- global behaviour -------------------------------------------------------
check "trace decodes every record" 0 '' '^> GPIO_PinRemapConfig\(GPIO_Remap_SWJ_Disable, ENABLE\)$' -- --sim --trace init
check "trace shows the start-up record last" 0 '' 'BoardStart\(argument 0\)' -- --sim --trace init
check "status without simulation" 2 '' "status needs the virtual board" -- status
check "status view" 0 'pins no identifier reaches' '' -- --sim status
check "unknown command" 2 '' "unknown command 'frob'" -- frob
check "unknown option" 2 '' "" -- --frob info
check "bad sim model" 2 '' "" -- --sim=X info
check "help" 0 'Without --hold a command leaves the board' '' -- --help
for command in list info init safe pin pwm raw decode run status; do
    check "help of $command" 0 'Examples:' '' -- "$command" --help
done

# The real libusb path: a board that enumerates but cannot be configured.
if command -v umockdev-run >/dev/null; then
    board_file=$(dirname "$0")/usbfs/unconfigurable-board.umockdev
    export ASAN_OPTIONS=verify_asan_link_order=0 # umockdev's preload comes first
    RUNNER="umockdev-run -d $board_file --"
    check "list hints at the udev rule" 0 'device 002  4c52:0101  TAV board  \(cannot be opened\)' '' -- list
    check "list hint line" 0 '^hint: .*60-tav-board\.rules' '' -- list
    check "info on a board that cannot be opened" 1 '' "board found but it cannot be opened" -- info
    RUNNER=""
    unset ASAN_OPTIONS
fi

# --hold keeps the board until SIGTERM, then closes it into the safe state.
"$tavctl" --sim --hold pin output P4.0 >"$work/out" 2>"$work/err" &
holder=$!
for _ in $(seq 50); do grep -q "holding" "$work/err" 2>/dev/null && break; sleep 0.1; done
kill -TERM "$holder"
wait "$holder"
hold_status=$?
if [ "$hold_status" -eq 0 ] && grep -q "closed into the safe state" "$work/out" && grep -q "holding" "$work/err"; then
    passed=$((passed + 1)); echo "ok: hold until SIGTERM"
else
    failed=$((failed + 1)); echo "FAIL: hold until SIGTERM (status $hold_status)"; cat "$work/out" "$work/err"
fi

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
