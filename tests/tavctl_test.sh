#!/usr/bin/env bash
# Runs the built tavctl against the virtual board and checks output and exit
# status of every sub-command, of scripts and of bad input. Given tavctl.exe,
# it runs it under wine (WINEPREFIX as set by the caller) and leaves out what
# only Linux has (umockdev); Windows' CR LF line ends are read as LF.
set -u
tavctl=$(realpath "$1")
emulated_run=${2:-} # runs a command against a board that umockdev emulates; for tavctl.exe the stand-in libusb0.dll
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# tavctl writes its shell history under the home and state folders: the
# test's own, never the user's.
export HOME=$work/home XDG_STATE_HOME=$work/state
mkdir -p "$HOME"

windows=""
[[ "$tavctl" == *.exe ]] && windows=yes
# tavctl itself, under wine for the Windows build. Outputs are read through
# unix_lines afterwards. Under wine a run whose standard error shows wine's
# own hiccup (its server dropped the connection), not tavctl's, runs again.
tavctl() {
    if [ -z "$windows" ]; then
        "$tavctl" "$@"
        return
    fi
    local attempt status
    for attempt in 1 2 3; do
        wine "$tavctl" "$@" >"$work/wine.out" 2>"$work/wine.err"
        status=$?
        # Wine that could not start the program (a busy machine's wineserver)
        # says so, or nothing at all: tavctl itself never fails silently.
        if [ "$status" -ne 0 ] && [ ! -s "$work/wine.out" ] && [ -z "$(without_wine_lines <"$work/wine.err")" ]; then
            continue
        fi
        grep -q '^wine client error' "$work/wine.err" || break
    done
    cat "$work/wine.out"
    without_wine_lines <"$work/wine.err" >&2
    return "$status"
}
# Standard error without the lines wine and its server write of their own
# (debug channels "0024:err:...", "wine: ...", the server's object dumps
# "Async thread=...", "I/O status block", "0x5620711d6a10:1: Socket fd=..."):
# what tavctl wrote is compared.
without_wine_lines() {
    grep -a -v -E '^[0-9a-f]{4}:(err|fixme|warn|trace):|^wine(server)?( client error)?:|^wine client error|Async thread=|I/O status block|^ *(Object|Process|Thread) |^0x[0-9a-f]+:[0-9]+: ' || true
}
if [ -n "$windows" ]; then
    printf '0024:err:ntdll:x\nAsync thread=0x1 iosb=0x2\n  I/O status block 0x3\nwine: whatever\n0x5620711d6a10:1: Socket fd=0x5620711eacb0, state=3\ntavctl: no board\n' |
        without_wine_lines >"$work/filtered"
    if [ "$(cat "$work/filtered")" = "tavctl: no board" ]; then passed_filter=1; else passed_filter=0; fi
fi
unix_lines() {
    [ -z "$windows" ] || sed -i 's/\r$//' "$@"
}

passed=0
failed=0
RUNNER=""
if [ -n "$windows" ]; then
    if [ "${passed_filter:-0}" = 1 ]; then passed=$((passed + 1)); echo "ok: wine's own lines are left out of stderr";
    else failed=$((failed + 1)); echo "FAIL: wine's own lines are left out of stderr"; fi
fi

# check NAME EXPECTED_STATUS PATTERN_STDOUT PATTERN_STDERR -- ARGS...
# Patterns are extended regular expressions ('' = anything); stderr must be
# empty when the status is 0 unless a pattern is given.
check() {
    local name=$1 want_status=$2 want_out=$3 want_err=$4
    shift 5
    local status
    if [ -n "$RUNNER" ]; then
        $RUNNER "$tavctl" "$@" >"$work/out" 2>"$work/err" <"${STDIN_FILE:-/dev/null}"
    else
        tavctl "$@" >"$work/out" 2>"$work/err" <"${STDIN_FILE:-/dev/null}"
    fi
    status=$?
    unix_lines "$work/out" "$work/err"
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

nothing_out() { # the last check printed nothing on standard output
    if [ -s "$work/out" ]; then
        failed=$((failed + 1)); echo "FAIL: $1"; sed 's/^/    out: /' "$work/out" | head -n 5
    else
        passed=$((passed + 1)); echo "ok: $1"
    fi
}

view_line() { # the board view's row of one pin
    grep -E "^  $1 " "$work/out"
}

# --- information --------------------------------------------------------
check "list names the virtual board" 0 '^sim:T  4c52:0101  TAV board' '' -- --sim list
check "info names model and firmware" 0 '^model: S$' '' -- --sim=S info
check "a virtual board by selector" 0 '^model: C$' '' -- --device sim:C info
check "info: records queued by default" 0 '^records: queued ' '' -- --sim=S info
check "info: sync: sends one transfer at a time" 0 '^records: one transfer at a time$' '' -- --device sync:sim:S info
check "info: the way in JSON" 0 '"queued":false' '' -- --device sync:sim:T --format json info
check "sync: and queued: together are no selector" 2 '' "not a board selector" -- --device sync:queued:sim:T info
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
check "pin names on model S" 0 'P4\.0 \(PA13\)' 'P4\.0 \(PA13\) is held by the debug port.*run `init` first' -- --sim=S pin output P4.0
check "raw identifier" 0 'P8\.16 \(PC15\): output register high' 'floating input, so the level is only stored, not driven: run `pin output P8\.16` first' -- --sim pin set 0x80010000
check "write low" 0 'P4\.5 \(PB5\): output register low' 'pin output P4\.5' -- --sim pin write P4.5 low
check "write needs a value" 2 '' "needs a VALUE" -- --sim pin write P4.5
check "set takes no value" 2 '' "takes no VALUE" -- --sim pin set P4.5 1
check "unknown pin name" 2 '' "unknown pin name 'Q1'" -- --sim pin set Q1
check "pin that does not exist" 2 '' "pin P4\.16 does not exist: bank P4 has pins 0-15" -- --sim pin set P4.16
check "a model letter in lower case" 0 'model: T' '' -- --device sim:t info
check "raw identifier past the bank" 2 '' "pin P4\.16 does not exist" -- --sim pin set 0x40010000
check "an identifier past the bank fails as the name does" 2 '' "pin P8\.17 does not exist" -- --sim pin output 0x80020001
check "identifier without a bank" 2 '' "0x10000001 names no bank" -- --sim pin set 0x10000001
check "identifier without a pin" 2 '' "0x40000000 names no pin" -- --sim pin set 0x40000000
check "hex without 0x" 2 '' "did you mean 0x40000001\?" -- --sim pin set 40000001
check "leading zero is decimal, not octal" 2 '' "0x0000000A names no bank" -- --sim pin set 010
check "decimal identifier" 0 'P4\.0 \(PB0\): output register high' 'P4\.0' -- --sim pin set 1073741825
check "no mapping on model C" 1 '' "pin P8\.3 has no mapping on board model C" -- --sim=C pin set P8.3
check "backwards range" 2 '' "runs backwards" -- --sim pin set P4.3-1
check "unknown action" 2 '' "ACTION" -- --sim pin flip P4.0

tavctl --sim run - >"$work/out" 2>&1 <<'SCRIPT'
pin output P4.0,P8.0
pin set P4.0
SCRIPT
unix_lines "$work/out"
if view_line "P4.0" | grep -q "output high" && view_line "P8.0" | grep -q "output low"; then
    passed=$((passed + 1)); echo "ok: lists across banks reach the board"
else
    failed=$((failed + 1)); echo "FAIL: lists across banks reach the board"; cat "$work/out"
fi

# --- PWM --------------------------------------------------------------------
# Numbers: decimal fields take no hex letters; each bound itself is taken.
check "a decimal field takes no hex letters" 2 '' "start-up value '12ab' is not a number" -- --sim init 12ab
check "the largest start-up value" 0 'start-up value 4294967295' '' -- --sim init 4294967295
check "the largest divider" 0 '15\.625 Hz' '' -- --sim pwm start B --div 128
check "a duty list that ends in a comma" 2 '' "duty 2 of '25%,' is empty" -- --sim pwm start B --duty 25%,
if [ -z "$windows" ]; then
    check "a port above the largest" 2 '' "port 65536 is out of range" -- --sim serve --port 65536
    timeout -s INT 2 "$tavctl" --sim serve --port 65535 >"$work/out" 2>&1
    if grep -q -E '127\.0\.0\.1:65535/|port 65535 is in use' "$work/out"; then # taken is fine, refused is not
        passed=$((passed + 1)); echo "ok: the largest port"
    else
        failed=$((failed + 1)); echo "FAIL: the largest port"; cat "$work/out"
    fi
fi
check "pwm start with percentages" 0 'channel 2 PA1 \(P8\.1\) +duty 18000/36000 \(50\.00%\)' '' -- --sim pwm start B --div 2 --duty 25%,50%
check "pwm start runs on the board" 0 'PA0   PWM TIM2 CH1, 1000 Hz, duty 9000/36000' '' -- --sim pwm start B --div 2 --duty 25%
check "pwm group A" 0 'PA10  PWM TIM1 CH3, 2000 Hz, duty 100/36000' '100 counts = 0.28 %' -- --sim pwm start A --duty 100
check "pwm bad group" 2 '' "group 'D' does not exist" -- --sim pwm start D
check "pwm bad divider" 2 '' "divider 3 is not one of" -- --sim pwm start A --div 3
check "pwm too many duties" 2 '' "group A has 3 channels, 4 duties given" -- --sim pwm start A --duty 1,2,3,4
check "pwm duty above full scale" 2 '' "duty 36001 is above full scale" -- --sim pwm start B --duty 36001
check "pwm duty percentage too high" 2 '' "duty 101% is not a percentage" -- --sim pwm start B --duty 101%
check "pwm set channel out of range" 2 '' "group A has channels 1-3, not 4" -- --sim pwm set A 4 100
check "pwm set" 0 'channel 4 PA6 \(P8\.6\) +duty 100/36000' 'group C is not running, so the duty is only stored.*run `pwm start C` first' -- --sim pwm set C 4 100
check "several pins as several words" 0 'P4.10 \(PB10\): push-pull output' '' -- --sim pin output P4.8 P4.10
check "write takes its level last" 0 'P4.8 \(PB8\), P4.10 \(PB10\): output register high' 'only stored' -- --sim pin write P4.8 P4.10 1
check "a level after set still points at write" 2 '' 'pin set takes no VALUE \(did you mean pin write\?\)' -- --sim pin set P4.8 1
check "a small bare duty is said to be counts" 0 'duty 25/36000' '^warning: 25 counts = 0.07 %; write 25% for a percentage$' -- --sim pwm start B --duty 25,0
check "pwm --help names the board pins of each model" 0 'P8.0 P8.1 P8.2 P8.3 on model T; P4.13 P4.14 P4.15 P8.16 on model S' '' -- pwm --help
check "pwm --help names each group's microcontroller pins" 0 '^Group A \(TIM1\), channels 1-3: PA10 PA9 PA8$' '' -- pwm --help
check "pwm set --help names each group's channels" 0 '1-3 for A, 1-4 for B and C$' '' -- pwm set --help
check "--help names the models" 0 'model T, S or C instead' '' -- --help
check "--help names their virtual boards" 0 'or sim:T, sim:S, sim:C; the board.s records go out back to back \(queued\), after sync:' '' -- --help
# Model C has no pin map: the group's own state still knows its duties.
printf 'pwm start B --div 2 --duty 25%%\npwm set B 1 +10%%\n' >"$work/relative.tav"
check "a relative duty on model C" 0 'duty 12600/36000' '' -- --sim=C run "$work/relative.tav"
check "a duty for a stopped group on model C" 0 '' 'group B is not running, so the duty is only stored' -- --sim=C pwm set B 1 100
check "pwm stop" 0 'all PWM stopped' '' -- --sim pwm stop
check "an empty --duty is refused" 2 '' "--duty needs at least one duty" -- --sim pwm start B --duty ""
check "pwm needs a sub-command" 2 '' "" -- --sim pwm

# --- raw and decode ---------------------------------------------------------
check "raw sends and decodes" 0 'sent: GPIO_SetBits\(GPIOB, pin 0\)' '' -- --sim raw 1a 08 00 00 00 00 00 00 01 00 00 00 01
check "raw malformed hex" 2 '' "malformed hex" -- --sim raw 1g
check "raw too long" 2 '' "a record is 64 bytes, 65 given" -- --sim raw "$(printf '00%.0s' $(seq 65))"
check "decode hex" 0 '^TIM_OC4Init\(TIM3, PWM1, output enabled, pulse 100\)$' '' -- decode 22 05 00 00 00 00 00 00 02 00 00 00 60 00 00 00 01 00 00 00 00 00 00 00 64
check "decode odd digits" 2 '' "malformed hex" -- decode 1a0
printf '1a 08\n' >"$work/short.hex"
STDIN_FILE="$work/short.hex" check "decode - pads a short record as decode HEX does" 0 '^GPIO_SetBits\(GPIOA, no pin\)' '' -- decode -
printf '# reset nothing\n1a 09%s\n' "$(printf ' 00%.0s' $(seq 62))" >"$work/reset.hex"
check "decode a hex file" 0 'GPIO_ResetBits\(GPIOA, no pin\) -- rejected: pin mask of zero' '' -- decode --file "$work/reset.hex"
head -c 128 /dev/zero >"$work/two.bin"
printf '\x02\x01' | dd of="$work/two.bin" bs=1 seek=64 conv=notrunc 2>/dev/null
check "decode binary records" 0 '^2: BoardInfoRequest\(\)$' '' -- decode --file "$work/two.bin"
check "decode --file counts what it decoded" 0 "^decoded 2 records of $work/two.bin\$" '' -- decode --file "$work/two.bin"
head -c 70 /dev/zero >"$work/partial.bin"
check "decode partial record" 2 '' "6 bytes at the end" -- decode --file "$work/partial.bin"
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
printf 'pwm start B --div 4 --duty 10%%\npwm start C --duty 10%%\npin write P4.8 1\npin set P4.9\n' >"$work/defaults.tav"
check "each script line starts from the defaults, not from the line before" 0 'PA6   PWM TIM3 CH1, 2000 Hz' 'P4\.9' -- --sim run "$work/defaults.tav"
printf 'init\npin set P4.99\npin set P4.1\n' >"$work/bad.tav"
check "script stops at the failing line" 2 '' "^tavctl: line 2: pin P4\.99 does not exist: bank P4 has pins 0-15$" -- --sim run "$work/bad.tav"
printf 'frobnicate\n' >"$work/unknown.tav"
check "script unknown command" 2 '' "line 1: " -- --sim run "$work/unknown.tav"
printf 'run x\n' >"$work/nested.tav"
check "script cannot nest run" 2 '' "line 1: " -- --sim run "$work/nested.tav"
printf 'pin --help\npin set P4.1\n' >"$work/help.tav"
STDIN_FILE="$work/help.tav" check "script line asking for help" 0 'P4\.1 \(PB1\): output register high' 'P4\.1' -- --sim run -
check "missing script" 1 '' "cannot read script" -- --sim run "$work/none.tav"

# --- answers that must be true -------------------------------------------
check "empty duty field" 2 '' "duty 2 of '1,,3' is empty" -- --sim pwm start C --duty 1,,3
mkdir -p "$work/adir"
check "script that is a directory" 1 '' "cannot read script .*adir: it is a directory" -- --sim run "$work/adir"
check "missing decode file" 1 '' "cannot read /nonexistent: No such file" -- decode --file /nonexistent
check "a path is not hex" 2 '' "to decode a file: tavctl decode --file /nonexistent" -- decode /nonexistent
(cd "$work" && printf '1a 09\n' >22 && tavctl decode 22 >"$work/out" 2>&1)
unix_lines "$work/out"
if [ "$(cat "$work/out")" = "TIM_DeInit(TIM1)" ]; then
    passed=$((passed + 1)); echo "ok: decode 22 is hex even where a file 22 exists"
else
    failed=$((failed + 1)); echo "FAIL: decode 22 is hex even where a file 22 exists"; cat "$work/out"
fi
printf 'pin output P4.0\nfrobnicate 3\n' >"$work/frob.tav"
check "script names an unknown command" 2 '' "^tavctl: line 2: unknown command 'frobnicate' \(commands: list, info" -- --sim run "$work/frob.tav"
check "script cannot nest run" 2 '' "line 1: unknown command 'run'" -- --sim run "$work/nested.tav"
if [ -z "$windows" ]; then
    # Start-up: libedit (with libtinfo and libbsd) is loaded by the shell only.
    if ldd "$tavctl" | grep -q -E 'httplib|libssl|libcrypto|libedit'; then
        failed=$((failed + 1)); echo "FAIL: tavctl starts without HTTP, TLS or line-editing libraries"; ldd "$tavctl"
    else
        passed=$((passed + 1)); echo "ok: tavctl starts without HTTP, TLS or line-editing libraries"
    fi
fi
check "version" 0 '^tavctl [0-9]+\.[0-9]+\.[0-9]+ \(libtav [0-9.]+\)$' '' -- --version
check "version, short" 0 '^tavctl ' '' -- -V
check "mode of a debug-port pin" 0 'P4\.3 \(PB3\): push-pull output' 'P4\.3 \(PB3\) is held by the debug port' -- --sim pin output P4.3
printf 'init\npin output P4.8\npin set P4.8\n' >"$work/lit.tav"
check "a driven level is stated plainly" 0 'P4\.8 \(PB8\): high' '' -- --sim run "$work/lit.tav"

# --- timing, repetition, toggling -------------------------------------------
printf 'pin output P4.8\nrepeat 3 toggle P4.8; sleep 1ms\n' >"$work/blink.tav"
tavctl --sim run "$work/blink.tav" >"$work/out" 2>"$work/err"
unix_lines "$work/out" "$work/err"
if [ "$(grep -c '^P4\.8 (PB8): ' "$work/out")" -eq 4 ] && [ "$(grep '^P4\.8 (PB8): ' "$work/out" | tail -n 3 | tr '\n' ' ')" = "P4.8 (PB8): high P4.8 (PB8): low P4.8 (PB8): high " ] && view_line "P4.8" | grep -q "output high"; then
    passed=$((passed + 1)); echo "ok: a blinking script toggles by the commanded state"
else
    failed=$((failed + 1)); echo "FAIL: a blinking script toggles by the commanded state"; cat "$work/out" "$work/err"
fi
printf 'pin output P4.8\nrepeat 2\n  toggle P4.8\n  repeat 2\n    sleep 1ms\n  end\nend\n' >"$work/block.tav"
check "repeat blocks nest" 0 'P4\.8 \(PB8\): low' '' -- --sim run "$work/block.tav"
printf 'repeat 2\n  toggle P4.8\n' >"$work/open.tav"
check "repeat without end" 2 '' "line 1: repeat without end" -- --sim run "$work/open.tav"
printf 'loop\n  # nothing\nend\n' >"$work/emptyloop.tav"
check "an empty loop is refused" 2 '' "line 1: loop has nothing to repeat" -- --sim run "$work/emptyloop.tav"
printf 'repeat 2 repeat 3 toggle P4.8\n' >"$work/nested1.tav"
check "a one-line repeat cannot hold another, and says so" 2 '' "line 1: a repeat or loop on one line cannot hold another" -- --sim run "$work/nested1.tav"
printf '\xef\xbb\xbfpin output P4.8\r\npin set P4.8\r\n' >"$work/windows.tav"
check "a script with a byte-order mark and CR LF lines" 0 'P4\.8 \(PB8\): high' '' -- --sim run "$work/windows.tav"
check "toggle a pin that is no output" 1 '' "P4\.8 is not an output \(floating input\): run .pin output P4\.8. first" -- --sim toggle P4.8
check "bad duration" 2 '' "duration '5 minutes' is not" -- --sim sleep "5 minutes"
printf 'pwm start B --duty 0\nrepeat 3 pwm set B 1 +10%%\npwm set B 1 -1000\n' >"$work/step.tav"
check "duty steps from the commanded duty" 0 'channel 1 PA0 \(P8\.0\) +duty 9800/36000' '' -- --sim run "$work/step.tav"
check "a step from a virtual board's known duty (0)" 0 'duty 1800/36000' 'group B is not running' -- --sim pwm set B 1 +5%
started=$(date +%s)
check "virtual time does not wait" 0 '' '' -- --sim --virtual-time sleep 1000s
[ $(( $(date +%s) - started )) -lt 30 ] || { failed=$((failed + 1)); echo "FAIL: virtual time waited"; }
check "virtual time needs a virtual board" 2 '' "need a virtual board" -- --virtual-time info
check "an unwritable --vcd is refused before the run" 2 '' "cannot write $work/none/out\.vcd: No such file" -- --sim --vcd "$work/none/out.vcd" init
if [ -s "$work/out" ]; then
    failed=$((failed + 1)); echo "FAIL: nothing runs before an unwritable --vcd is refused"; cat "$work/out"
else
    passed=$((passed + 1)); echo "ok: nothing runs before an unwritable --vcd is refused"
fi
check "--vcd and --svg on one file" 2 '' "name the same file" -- --sim --vcd "$work/w.vcd" --svg "$work/w.vcd" init
check "an empty --svg name" 2 '' "--svg needs a file name" -- --sim --svg "" init
if [ -z "$windows" ]; then
    check "a waveform that cannot be written at the end says why" 1 '' '^tavctl: cannot write /dev/full: No space left on device$' -- --sim --svg /dev/full pin output P4.8
fi
check "a --vcd that is a directory" 2 '' "cannot write $work: it is a directory" -- --sim --vcd "$work" init
printf 'loop toggle P4.8\n' >"$work/loop.tav"
check "loop in virtual time is refused" 2 '' "loop never ends in virtual time" -- --sim --virtual-time run "$work/loop.tav"

# Output is line-buffered into a file or pipe: a script that runs on shows
# what it did so far (and keeps it when a signal ends it).
if [ -z "$windows" ]; then
    printf 'pin output P4.8\nloop toggle P4.8; sleep 100ms\n' >"$work/blinks.tav"
    "$tavctl" --sim run "$work/blinks.tav" >"$work/out" 2>/dev/null </dev/null &
    blinker=$!
    for _ in $(seq 50); do grep -q 'P4\.8 (PB8): high' "$work/out" && break; sleep 0.1; done
    kill -TERM "$blinker"
    wait "$blinker" 2>/dev/null
    if grep -q 'P4\.8 (PB8): high' "$work/out"; then
        passed=$((passed + 1)); echo "ok: a running script's output reaches a file line by line"
    else
        failed=$((failed + 1)); echo "FAIL: a running script's output reaches a file line by line"; cat "$work/out"
    fi
fi

# --- PWM at any frequency, pulses, one group stopped, pull and open drain -------
check "pwm start --hz 50: a servo's time base" 0 'group B started: 49\.9997 Hz \(72 MHz timer clock / 22 / 65455 steps\)' '' \
    -- --sim pwm start B --hz 50 --duty 7.5%
grep -q 'channel 1 PA0 (P8.0)   duty 4909/65455 (7.50%)' "$work/out" && passed=$((passed + 1)) ||
    { failed=$((failed + 1)); echo "FAIL: --duty 7.5% of 65455 steps"; cat "$work/out"; }
printf 'pwm start B --hz 50\npwm pulse B 1 1500us\npwm pulse B 2 1.5ms\npwm set B 3 50%%\npwm stop B\npwm start C --hz 20000 --duty 900,25%%\nstatus\n' >"$work/servo.tav"
check "pwm pulse in us and ms, a percentage of the group's steps, one group stopped" 0 \
    'P8\.1 +0x80000002 +PA1 +floating input' '' -- --sim run "$work/servo.tav"
for want in 'channel 1 PA0 \(P8\.0\) +duty 4909/65455' 'channel 2 PA1 \(P8\.1\) +duty 4909/65455' \
            'channel 3 PA2 \(P8\.2\) +duty 32728/65455' 'group B stopped, its pins floating' \
            'P4\.1 +0x40000002 +PB1 +PWM TIM3 CH4, 20000 Hz, duty 900/3600'; do
    grep -Eq "$want" "$work/out" && passed=$((passed + 1)) || { failed=$((failed + 1)); echo "FAIL: servo script lacks $want"; }
done
check "pwm start --format json: the group as data" 0 '^\{"group":"C","running":true,"frequency_hz":20000\.0,"prescaler":0,"full_scale":3600' '' \
    -- --sim --format json pwm start C --hz 20000 --duty 50%
check "pwm start: --div and --hz together" 2 '' 'takes --div or --hz, not both' -- --sim pwm start B --div 2 --hz 50
check "pwm start: a frequency out of range" 2 '' "--hz '1e9': a frequency from 0.0168 to 720000 Hz" -- --sim pwm start B --hz 1e9
check "pwm start: counts above the group's steps" 2 '' 'duty' -- --sim pwm start C --hz 20000 --duty 3601
check "pwm pulse on a group that is not running" 2 '' 'group B is not running' -- --sim pwm pulse B 1 1500us
check "pwm pulse without a number" 2 '' "pulse 'fast'" -- --sim pwm pulse B 1 fast
printf 'pwm start B --hz 50\npwm pulse B 1 20001us\n' >"$work/long.tav"
check "pwm pulse longer than the period" 2 '' "longer than group B's period" -- --sim run "$work/long.tav"
check "pin input --pull up" 0 'P4\.9 \(PB9\): input with pull-up' '' -- --sim pin input --pull up P4.9
check "pin output --open-drain" 0 'P4\.8 \(PB8\): open-drain output' '' -- --sim pin output --open-drain P4.8
check "--pull on another action" 2 '' '--pull is for pin input, not pin set' -- --sim pin set --pull up P4.8
check "--open-drain on another action" 2 '' '--open-drain is for pin output' -- --sim pin input --open-drain P4.8

# --- a virtual board unplugged, faulted and plugged back ------------------------
# The shell goes on after the calls that find the board gone; a reattach:
# board restores the output once the board is back.
printf 'init\npin output P4.8\npin set P4.8\nsim unplug\npin reset P4.8\npin reset P4.8\nsleep 400ms\nsim plug\nsleep 400ms\nstatus\n' >"$work/heal.in"
STDIN_FILE="$work/heal.in" check "shell: unplug, calls fail, plug, output restored" 0 \
    'P4\.8 +0x40000100 +PB8 +output high' 'pin: no board open' -- --device reattach:sim:T shell
grep -q 'the virtual board is plugged in again' "$work/out" && passed=$((passed + 1)) ||
    { failed=$((failed + 1)); echo "FAIL: the shell says the board is back"; cat "$work/out" "$work/err"; }
printf 'sim fail timeout 2\npin output P4.8\npin output P4.10\npin output P4.10\n' >"$work/fail.in"
STDIN_FILE="$work/fail.in" check "shell: a fault meets the record it names" 0 'record 2 from now times out' \
    'pin: a transfer to the board failed' -- --sim shell
check "sim fail: an unknown kind" 2 '' "KIND: jam not in" -- --sim sim fail jam
check "sim fail: 0 records from now" 2 '' 'AFTER' -- --sim sim fail stall 0
check "sim on a board that is not virtual" 2 '' 'sim unplug needs a virtual board' -- --device usb:1:1 sim unplug
# --- the shell ----------------------------------------------------------------
printf 'pin output P4.8\nfrob\npin set P4.8 ; toggle P4.8\nhelp\nquit\n' >"$work/shell.in"
STDIN_FILE="$work/shell.in" check "shell goes on after an error" 0 'P4\.8 \(PB8\): low' "unknown command 'frob'" -- --sim shell
STDIN_FILE="$work/shell.in" check "shell help" 0 'commands: list, info' "unknown command 'frob'" -- --sim shell
if [ -z "$windows" ]; then
    if grep -q 'toggle' "$XDG_STATE_HOME/tavctl/history" 2>/dev/null && [ -z "$(ls -A "$HOME")" ]; then
        passed=$((passed + 1)); echo "ok: the shell keeps its history in XDG_STATE_HOME"
    else
        failed=$((failed + 1)); echo "FAIL: the shell keeps its history in XDG_STATE_HOME"; ls -laR "$HOME" "$XDG_STATE_HOME"
    fi
    unset XDG_STATE_HOME
    STDIN_FILE="$work/shell.in" check "shell without XDG_STATE_HOME" 0 'P4\.8 \(PB8\): low' "unknown command 'frob'" -- --sim shell
    if [ -s "$HOME/.local/state/tavctl/history" ]; then
        passed=$((passed + 1)); echo "ok: the shell history defaults to ~/.local/state/tavctl"
    else
        failed=$((failed + 1)); echo "FAIL: the shell history defaults to ~/.local/state/tavctl"; ls -laR "$HOME"
    fi
    rm -rf "$HOME/.local/state/tavctl"
    : >"$HOME/.local/state/tavctl" # a file where the folder belongs (root may write anywhere)
    STDIN_FILE="$work/shell.in" check "shell with a history it cannot write" 0 'P4\.8 \(PB8\): low' "unknown command 'frob'" -- --sim shell
    rm -f "$HOME/.local/state/tavctl"
    export XDG_STATE_HOME=$work/state
fi

# Ctrl-C in the shell (on a terminal, which script(1) gives it) ends the
# running loop and returns to the prompt; at the prompt it drops the line.
if [ -z "$windows" ] && command -v script >/dev/null; then
    rm -f "$work/keys"
    mkfifo "$work/keys"
    (printf 'pin output P4.8\r'; sleep 1; printf 'loop toggle P4.8; sleep 50ms\r'; sleep 1.5; printf '\003'; sleep 1
     printf 'pin set P4.9 half typed\003'; sleep 0.5; printf 'pin output P4.9\r'; sleep 0.5; printf 'quit\r'; sleep 1) \
        >"$work/keys" &
    typist=$!
    timeout 30 script -qec "exec '$tavctl' --sim shell" /dev/null <"$work/keys" >"$work/out" 2>&1
    shell_status=$?
    wait "$typist" 2>/dev/null
    if [ "$shell_status" -eq 0 ] && grep -q 'tavctl: interrupted' "$work/out" && grep -q 'P4\.9 (PB9): push-pull output' "$work/out" &&
        ! grep -q 'half typed' <(grep -a 'P4.9 (PB9)' "$work/out") && grep -q '^virtual board:' <(tr -d '\r' <"$work/out"); then
        passed=$((passed + 1)); echo "ok: Ctrl-C in the shell ends the running loop and returns to the prompt"
    else
        failed=$((failed + 1)); echo "FAIL: Ctrl-C in the shell ends the running loop and returns to the prompt (status $shell_status)"
        tr -d '\r' <"$work/out" | grep -v '^P4.8 (PB8): ' | head -n 20
    fi
fi

# --- JSON ---------------------------------------------------------------------
json_check() { # NAME PYTHON-EXPRESSION -- ARGS...: the last line of standard output is one JSON document
    local name=$1 expression=$2
    shift 3
    if tavctl "$@" >"$work/out" 2>"$work/err" && unix_lines "$work/out" "$work/err" \
        && python3 -c "import json,sys; d=json.loads(open(sys.argv[1]).read().splitlines()[-1]); sys.exit(0 if ($expression) else 1)" "$work/out"; then
        passed=$((passed + 1)); echo "ok: $name"
    else
        failed=$((failed + 1)); echo "FAIL: $name"; cat "$work/out" "$work/err"
    fi
}
json_check "info as JSON" 'd["model"] == "S" and d["firmware"] == "1.0.0.0" and d["virtual"] is True' -- --sim=S --format json info
json_check "status as JSON" 'len(d["pins"]) == 33 and d["pins"][0]["name"] == "P4.0" and d["pins"][0]["function"] == "floating_input"' -- --sim --format json status
printf 'pwm start B --div 2 --duty 25%%\nstatus\n' >"$work/pwm.tav"
json_check "PWM in the status JSON" '[p for p in d["pins"] if p["name"] == "P8.0"][0]["pwm"]["frequency_hz"] == 1000' -- --sim --format json run "$work/pwm.tav"
printf 'pwm start C --div 2 --duty 0,0,0,25%%\nstatus\n' >"$work/pwmc.tav"
json_check "a PWM pin's channel in JSON is the one pwm set takes" \
    '[p for p in d["pins"] if p["name"] == "P8.6"][0]["pwm"] == {"group": "C", "channel": 4, "timer": 3, "timer_channel": 1, "frequency_hz": 1000, "duty_counts": 9000, "period_counts": 36000, "duty_percent": 25.0}' \
    -- --sim --format json run "$work/pwmc.tav"
printf 'init\npin output P4.8\ninfo\npwm start B --duty 10%%\nstatus\n' >"$work/jsonl.tav"
tavctl --sim --format json run "$work/jsonl.tav" >"$work/out" 2>"$work/err"
unix_lines "$work/out"
if python3 -c 'import json, sys
lines = open(sys.argv[1]).read().splitlines()
documents = [json.loads(line) for line in lines]
sys.exit(0 if len(documents) == 4 and [pin["name"] for pin in documents[0]["pins"]] == ["P4.8"]
         and documents[1]["model"] == "T" and documents[2]["group"] == "B"
         and documents[2]["full_scale"] == 36000 and len(documents[3]["pins"]) == 33 else 1)' "$work/out"; then
    passed=$((passed + 1)); echo "ok: --format json run prints JSON Lines, nothing else"
else
    failed=$((failed + 1)); echo "FAIL: --format json run prints JSON Lines, nothing else"; cat "$work/out"
fi
if [ -z "$windows" ]; then # (the Windows build here has no USB library: list fails, tested below)
    json_check "list as JSON" 'isinstance(d["boards"], list)' -- --format json list
fi
tavctl list --all >"$work/out" 2>&1
unix_lines "$work/out"
# (without a USB library, as the Windows build here, it says that instead)
if grep -q '^bus ' "$work/out" || grep -q '^no USB device found' "$work/out" ||
    grep -q '^tavctl: cannot look for boards: no USB library found' "$work/out"; then
    passed=$((passed + 1)); echo "ok: list --all says when there is no USB device at all"
else
    failed=$((failed + 1)); echo "FAIL: list --all says when there is no USB device at all"; cat "$work/out"
fi

# --- --hold closes into the safe state however tavctl ends ---------------------
printf 'pin output P4.0\ntoggle P4.1\n' >"$work/fails.tav" # fails as it runs, not when checked
tavctl --sim --hold run "$work/fails.tav" >"$work/out" 2>"$work/err"
hold_status=$?
unix_lines "$work/out" "$work/err"
if [ "$hold_status" -eq 1 ] && grep -q "closed into the safe state" "$work/out" && ! grep -q holding "$work/err"; then
    passed=$((passed + 1)); echo "ok: hold closes at once after a failing command"
else
    failed=$((failed + 1)); echo "FAIL: hold closes at once after a failing command (status $hold_status)"; cat "$work/out" "$work/err"
fi
# Signals reach a program under wine as wine likes: the Linux run tests them.
# signal_hold SIGNAL READY_TEXT TAVCTL-ARGUMENTS...: tavctl in the background
# with SIGINT explicitly ignored (as a shell's background job or nohup has
# it), the signal once its standard error shows READY_TEXT (unbuffered);
# sets hold_status. Never waits more than 20 s.
signal_hold() {
    local signal=$1 ready=$2
    shift 2
    # Emptied first: the last run's READY_TEXT must not start the signal
    # before this tavctl has even been started.
    : >"$work/out"
    : >"$work/err"
    (trap '' INT HUP; exec "$tavctl" "$@" >"$work/out" 2>"$work/err" </dev/null) &
    local holder=$!
    for _ in $(seq 100); do grep -q -- "$ready" "$work/err" 2>/dev/null && break; sleep 0.1; done
    kill "-$signal" "$holder"
    for _ in $(seq 200); do kill -0 "$holder" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$holder" 2>/dev/null
    wait "$holder"
    hold_status=$?
}
if [ -z "$windows" ]; then
    printf 'pin output P4.0\nsleep 30s\n' >"$work/long.tav"
    for signal in INT TERM HUP; do
        signal_hold "$signal" GPIO_Init --sim --hold --trace run "$work/long.tav"
        if [ "$hold_status" -eq 1 ] && grep -q "closed into the safe state" "$work/out" && grep -q "interrupted" "$work/err"; then
            passed=$((passed + 1)); echo "ok: hold closes when SIG$signal interrupts a script"
        else
            failed=$((failed + 1)); echo "FAIL: hold closes when SIG$signal interrupts a script (status $hold_status)"; cat "$work/out" "$work/err"
        fi
    done
fi

# --- Windows: boards behind the stand-in libusb0.dll and libusb-1.0.dll, as tavctl list names them ----
# (the second argument is the stand-in libusb0.dll, libusb-1.0.dll beside it;
# tavctl loads them from its own folder)
if [ -n "$windows" ] && [ -n "$emulated_run" ]; then
    mkdir -p "$work/app"
    cp "$tavctl" "$(dirname "$tavctl")/tav.dll" "$emulated_run" "$(dirname "$emulated_run")/libusb-1.0.dll" "$work/app/"
    windows_tavctl=$tavctl
    tavctl=$work/app/$(basename "$windows_tavctl")
    export TAV_STANDIN_BOARDS=TS TAV_STANDIN1_BOARDS=C
    check "list names libusb-win32's boards by number" 0 '^usb:000:002  port \?  4c52:0101  TAV board \(model S\)  via libusb-win32$' '' -- list
    check "list names libusb-1.0's boards (WinUSB, libusbK)" 0 '^usb:001:001  port 1-1  4c52:0101  TAV board \(model C\)  via libusb-1.0$' '' -- list
    json_check "list as JSON gives selectors and libraries" '[(b["selector"], b["library"]) for b in d["boards"]] == [("usb:000:001", "libusb-win32"), ("usb:000:002", "libusb-win32"), ("usb:001:001", "libusb-1.0")]' -- --format json list
    selectors=$(grep -o '"usb:[0-9:]*"' "$work/out" | tr -d '"')
    for selector in $selectors; do
        check "what list prints opens that board ($selector)" 0 '^model: [TSC]$' '' -- --device "$selector" info
    done
    check "usb:0:2 is the second board" 0 '^model: S$' '' -- --device usb:0:2 info
    check "usb:1:1 is libusb-1.0's board, queued too" 0 '^model: C$' '' -- --device queued:usb:1:1 info
    check "the first board" 0 '^model: T$' '' -- info
    check "a board the driver does not list" 1 '' "no TAV board at usb:0:3" -- --device usb:0:3 info
    unset TAV_STANDIN_BOARDS TAV_STANDIN1_BOARDS
    check "no board: list names the USB libraries found" 0 '^USB libraries: libusb0\.dll \(libusb-win32 boards\) found, libusb-1\.0\.dll \(WinUSB and libusbK boards\) found' '' -- list
    tavctl=$windows_tavctl
    emulated_run=""
fi
if [ -n "$windows" ]; then
    check "no USB library: list fails with the reason" 1 '' '^tavctl: cannot look for boards: no USB library found: neither libusb0\.dll' -- list
fi

# --- Windows: Ctrl-C on the console ends --hold in the safe state ------------------
# (wine gives a program a console only on a terminal: script(1) makes one)
if [ -n "$windows" ] && [ -n "${TAV_CONSOLE_CTRL:-}" ] && command -v script >/dev/null; then
    console_ctrl() { # EXPECTED_STATUS READY_TEXT TAVCTL-ARGUMENTS...: Ctrl-C once stderr shows READY_TEXT
        local want=$1 ready=$2
        shift 2
        : >"$work/err"
        script -qec "wine '$TAV_CONSOLE_CTRL' '$work/err' '$ready' '$tavctl' $* >'$work/out' 2>>'$work/err'" \
            /dev/null </dev/null >/dev/null
        local status=$?
        unix_lines "$work/out" "$work/err"
        [ "$status" -eq "$want" ] && grep -q "closed into the safe state" "$work/out"
    }
    if console_ctrl 0 holding --sim --hold pin output P4.0; then
        passed=$((passed + 1)); echo "ok: Ctrl-C ends --hold in the safe state (Windows console)"
    else
        failed=$((failed + 1)); echo "FAIL: Ctrl-C ends --hold in the safe state (Windows console)"; cat "$work/out" "$work/err"
    fi
    printf 'pin output P4.0\nsleep 30s\n' >"$work/long.tav"
    if console_ctrl 1 GPIO_Init --sim --hold --trace run "$work/long.tav" && grep -q interrupted "$work/err"; then
        passed=$((passed + 1)); echo "ok: Ctrl-C interrupts a script under --hold (Windows console)"
    else
        failed=$((failed + 1)); echo "FAIL: Ctrl-C interrupts a script under --hold (Windows console)"; cat "$work/out" "$work/err"
    fi
fi

# --- selectors on the real libusb path (umockdev) --------------------------------
if [ -n "$emulated_run" ]; then
    export ASAN_OPTIONS=verify_asan_link_order=0
    RUNNER="$emulated_run --device 10 --"
    check "device numbers are decimal" 0 '^model: T$' '' -- --device 001:010 info
    check "leading zeros are not octal" 1 '' "no TAV board at 001:009" -- --device 001:009 info
    check "usb: selector" 0 '^model: T$' '' -- --device usb:1:10 info
    # A udev rule's SYMLINK names one bench board: its node's bus and device.
    ln -sf /dev/bus/usb/001/010 "$work/tav-bench-3"
    check "dev: a link to the board's device node" 0 '^model: T$' '' -- --device "dev:$work/tav-bench-3" info
    ln -sf /dev/bus/usb/001/009 "$work/tav-bench-9"
    check "dev: a link to a node without a board" 1 '' "no TAV board at dev:" -- --device "dev:$work/tav-bench-9" info
    check "dev: a path that is no device node" 2 '' "dev: names a USB device node" -- --device "dev:$work" info
    # A real board reports nothing back: status is what this session commanded.
    printf 'pin output P4.8\nstatus\n' >"$work/real-status.tav"
    check "status on a real board: a pin set in this session" 0 '^  P4\.8   0x40000100  PB8   output low$' '' -- run "$work/real-status.tav"
    check "status on a real board: the others are marked unknown" 0 '^  P4\.9   0x40000200  PB9   \? ' '' -- run "$work/real-status.tav"
    # A real board in JSON: numbers are JSON numbers (no leading zeros), the selector as text.
    "$emulated_run" --device 10 -- "$tavctl" --format json list >"$work/out" 2>"$work/err"
    if python3 -c 'import json, sys
boards = json.loads(open(sys.argv[1]).read())["boards"]
sys.exit(0 if [(b["selector"], b["bus"], b["device"], b["vendor"], b["openable"], b["model"]) for b in boards]
         == [("usb:001:010", 1, 10, "4c52", True, "T")] else 1)' "$work/out"; then
        passed=$((passed + 1)); echo "ok: list as JSON with a real board"
    else
        failed=$((failed + 1)); echo "FAIL: list as JSON with a real board"; cat "$work/out" "$work/err"
    fi
    # Transfers 1-3 are the board-information request, its reply and the pin's
    # record; closing starts at 4.
    printf 'pin output P4.0\ntoggle P4.1\n' >"$work/fails.tav" # fails as it runs, not when checked
    "$emulated_run" --stall-write 6 -- "$tavctl" --hold run "$work/fails.tav" >"$work/out" 2>"$work/err"
    if grep -q "closing the board failed: 1 of 60 records did not reach it" "$work/err" &&
        ! grep -q "closed into the safe state" "$work/out"; then
        passed=$((passed + 1)); echo "ok: hold says when closing the board failed"
    else
        failed=$((failed + 1)); echo "FAIL: hold says when closing the board failed"; cat "$work/out" "$work/err"
    fi
    # The same through the queued backend (libusb-1.0): the stalled record is
    # counted as one of the queue's.
    "$emulated_run" --stall-write 6 -- "$tavctl" --device queued: --hold run "$work/fails.tav" >"$work/out" 2>"$work/err"
    if grep -q "closing the board failed: 1 of 60 records did not reach it" "$work/err"; then
        passed=$((passed + 1)); echo "ok: queued: hold says when closing the board failed"
    else
        failed=$((failed + 1)); echo "FAIL: queued: hold says when closing the board failed"; cat "$work/out" "$work/err"
    fi
    RUNNER="$emulated_run --device 2 --view $work/view --"
    check "queued: selector on the real USB path" 0 '^board initialised' '' -- --device queued:usb:1:2 init
    if grep -q 'P8.16 .*floating input' "$work/view"; then
        passed=$((passed + 1)); echo "ok: queued: the board took the records"
    else
        failed=$((failed + 1)); echo "FAIL: queued: the board took the records"; cat "$work/view"
    fi
    check "real board: a level the pin does not drive is not claimed" 0 'P4\.8 \(PB8\): output register high \(drives only a pin that is an output\)' '' -- pin set P4.8
    RUNNER=""
    unset ASAN_OPTIONS
fi

# --- global behaviour -------------------------------------------------------
check "a queued virtual board shows its view" 0 '^virtual board:' '' -- --device queued:sim:T pin output P4.0
check "a reattaching virtual board is a virtual board too" 0 '^virtual board:' '' -- --device reattach:sim:S pin output P4.8
check "trace decodes every record" 0 '' '^> GPIO_PinRemapConfig\(GPIO_Remap_SWJ_Disable, ENABLE\)$' -- --sim --trace init
check "trace shows the start-up record last" 0 '' 'BoardStart\(argument 0\)' -- --sim --trace init
check "status without a board says none is found" 1 '' "no board found" -- status
check "status view" 0 'pins no identifier reaches' '' -- --sim status
check "unknown command" 2 '' "unknown command 'frob'" -- frob
check "a mistyped option is an unknown option" 2 '' "^tavctl: unknown option '--frob' \(see tavctl --help\)$" -- --frob info
check "a mistyped option of a command too" 2 '' "^tavctl: unknown options '--bogus', '-x'" -- --sim info --bogus -x
check "a word too many is no option" 2 '' "^tavctl: The following argument was not expected: extra" -- --sim info extra
check "--sim with a space before the model" 0 '^model: S$' '' -- --sim S info
check "--sim before a command still means model T" 0 '^model: T$' '' -- --sim info
check "--sim takes a model letter only, not a word that starts with one" 2 '' "unknown command 'Tinfo'" -- --sim Tinfo
check "pin toggle points at toggle" 2 '' "toggle is a command of its own: tavctl toggle PINS" -- --sim pin toggle P4.8
STDIN_FILE=$work/toggle-line.tav
echo 'pin toggle P4.8' >"$STDIN_FILE"
check "pin toggle in a script points at toggle" 2 '' "line 1: toggle is a command of its own" -- --sim run -
unset STDIN_FILE
# A script is checked whole before its first line runs: nothing of lines
# 1-3 reaches the board when line 4 is wrong, also inside a block.
printf 'pin output P4.8\npin set P4.8\nsleep 1ms\npin set P9.1\n' >"$work/late-error.tav"
check "a script's mistake on line 4 stops it before line 1" 2 '' "^tavctl: line 4: unknown pin bank in 'P9.1'" -- --sim run "$work/late-error.tav"
nothing_out "line 1 of the script with a mistake on line 4 did not run"
printf 'pin output P4.8\nrepeat 3\n  toggle P4.8\n  pwm start D\nend\n' >"$work/late-error.tav"
check "a mistake inside a repeat block stops the script before it starts" 2 '' "^tavctl: line 4: " -- --sim run "$work/late-error.tav"
nothing_out "nothing of the script with a mistake in its block ran"
# A block is checked once, not as often as it repeats (a long run would
# otherwise wait that long before saying its line 4 is wrong).
printf 'repeat 100000000\n  sleep 1ms\nend\npin set P9.1\n' >"$work/late-error.tav"
[ -n "$windows" ] || RUNNER="timeout 20" # (under wine, the test's own time limit)
check "a repeat block is checked once, not 100000000 times" 2 '' "^tavctl: line 4: " -- --sim run "$work/late-error.tav"
RUNNER=""
printf 'pin output P4.8\nlist\nrepeat 2 toggle P4.8\n' >"$work/checked.tav"
check "a checked script runs each line once, list included" 0 '' '' -- --sim run "$work/checked.tav"
if [ "$(grep -c '^P4.8 (PB8): ' "$work/out")" -ne 3 ] || [ "$(grep -c '^sim:T ' "$work/out")" -ne 1 ]; then
    failed=$((failed + 1)); echo "FAIL: the checked script's lines ran once each"; cat "$work/out"
else
    passed=$((passed + 1)); echo "ok: the checked script's lines ran once each"
fi
check "pin in text prints no JSON" 0 '^P4\.8 \(PB8\): push-pull output$' '' -- --sim pin output P4.8
if grep -q '"pins"' "$work/out"; then
    failed=$((failed + 1)); echo "FAIL: pin in text mode printed JSON"
else
    passed=$((passed + 1)); echo "ok: pin in text mode printed no JSON"
fi
check "pin in JSON" 0 '^\{"pins":\[\{"name":"P4.8","id":"0x40000100","mcu":"PB8","function":"output_low","known":true' '' -- --sim --format json pin output P4.8
check "toggle in JSON" 0 '"function":"output_high"' '' -- --sim --format json run "$work/checked.tav"
check "pwm stop of a group in JSON" 0 '^\{"group":"B","running":false' '' -- --sim --format json pwm stop B
check "pwm stop in JSON gives every group" 0 '^\{"group":"C",' '' -- --sim --format json pwm stop
check "bad sim model" 2 '' "" -- --sim=X info
check "help" 0 'Without --hold a command leaves the board' '' -- --help
check "monitor watches USB, not a virtual board" 2 '' "monitor watches the USB bus" -- --sim monitor
if [ -z "$windows" ]; then
    # No board on the bus: said once, so that an empty screen is not taken for a hang.
    timeout -s INT --preserve-status 1 "$tavctl" monitor >"$work/out" 2>"$work/err"
    if [ $? -eq 0 ] && [ ! -s "$work/out" ] &&
        [ "$(cat "$work/err")" = "tavctl: no TAV board there yet: watching the USB bus until Ctrl-C or SIGTERM" ]; then
        passed=$((passed + 1)); echo "ok: monitor says it watches when no board is there"
    else
        failed=$((failed + 1)); echo "FAIL: monitor says it watches when no board is there"; cat "$work/out" "$work/err"
    fi
fi
for command in list info init safe pin pwm raw decode run status; do
    check "help of $command" 0 'Examples:' '' -- "$command" --help
done
for kind in 'port:1-3\.2' 'dev:/dev/tav-bench-3' 'reattach:port:1-3\.2' 'sync:usb:1:5'; do
    check "the --device help names $kind" 0 "$kind" '' -- --help
done
# Help names only what this build has: no SIGTERM, no line editing on Windows;
# the panel everywhere.
tavctl --help >"$work/out" 2>&1
missing=""
grep -q '^  serve ' "$work/out" || missing="no serve"
if [ -n "$windows" ]; then
    missing="$missing$(grep -E 'SIGTERM|SIGHUP|line editing' "$work/out")"
else
    grep -q 'SIGTERM' "$work/out" || missing="$missing no SIGTERM"
fi
if [ -z "$missing" ]; then
    passed=$((passed + 1)); echo "ok: help names only what this tavctl has"
else
    failed=$((failed + 1)); echo "FAIL: help names only what this tavctl has: $missing"
fi

# The real libusb path: a board that enumerates but cannot be configured.
if [ -z "$windows" ] && command -v umockdev-run >/dev/null; then
    board_file=$(dirname "$0")/usbfs/unconfigurable-board.umockdev
    export ASAN_OPTIONS=verify_asan_link_order=0 # umockdev's preload comes first
    RUNNER="umockdev-run -d $board_file --"
    check "list hints at the udev rule" 0 '^usb:001:002  port 1-2  4c52:0101  TAV board  \(cannot be opened\)  via libusb 0\.1$' '' -- list
    check "list hint line" 0 '^hint: .*60-tav-board\.rules' '' -- list
    check "list says board objects queue" 0 '^records: queued, ' '' -- list
    check "list says so in JSON" 0 '"queued":true' '' -- --format json list
    check "info on a board that cannot be opened" 1 '' "board found but it cannot be opened" -- info
    # monitor: the board there, until Ctrl-C, then exit 0; one JSON object a line.
    for format in text json; do
        $RUNNER timeout -s INT --preserve-status 1 "$tavctl" --format "$format" monitor >"$work/out" 2>"$work/err"
        monitor_status=$?
        if [ "$format" = text ]; then
            expected='^arrived  usb:001:002  port 1-2  4c52:0101  TAV board  via libusb 0\.1  \(already there\)$'
        else
            expected='^\{"event":"arrived","initial":true,"selector":"usb:001:002",.*"port":"1-2","queued":true\}$'
        fi
        if [ "$monitor_status" -eq 0 ] && [ "$(wc -l <"$work/out")" -eq 1 ] && grep -Eq "$expected" "$work/out" &&
            ! grep -q '"openable"' "$work/out" &&
            ! grep -q "no TAV board there yet" "$work/err"; then
            passed=$((passed + 1)); echo "ok: monitor ($format) until Ctrl-C"
        else
            failed=$((failed + 1)); echo "FAIL: monitor ($format) until Ctrl-C (status $monitor_status)"; cat "$work/out" "$work/err"
        fi
    done
    # --verbose: the library's reason comes before tavctl's own line.
    $RUNNER "$tavctl" --verbose info >"$work/out" 2>"$work/err"
    if grep -q '^tavctl: warning: cannot set configuration 1 of usb:001:002 (libusb 0\.1): -[0-9]* (' "$work/err" \
        && tail -n 1 "$work/err" | grep -q "board found but it cannot be opened"; then
        passed=$((passed + 1)); echo "ok: --verbose says why"
    else
        failed=$((failed + 1)); echo "FAIL: --verbose says why"; cat "$work/err"
    fi
    RUNNER=""
    unset ASAN_OPTIONS
fi

# --hold keeps the board until a stop signal, then closes it into the safe state.
if [ -z "$windows" ]; then
    for signal in TERM INT HUP; do
        signal_hold "$signal" holding --sim --hold pin output P4.0
        if [ "$hold_status" -eq 0 ] && grep -q "closed into the safe state" "$work/out"; then
            passed=$((passed + 1)); echo "ok: hold until SIG$signal"
        else
            failed=$((failed + 1)); echo "FAIL: hold until SIG$signal (status $hold_status)"; cat "$work/out" "$work/err"
        fi
    done
fi

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
