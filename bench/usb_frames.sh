#!/usr/bin/env bash
# USB frames per operation, one by one ("sync:", libusb 0.1) against a board
# object's default (tav_open(""): queued, libusb-1.0), on the board that umockdev emulates
# with its frame clock: at most 19 packets of 64 bytes per 1 ms frame, and a
# transfer submitted after the previous one completed waits for the next
# frame. Both backends run in the same run, on the same board. Prints a
# table and, last, "the default (queued) within R of the frame limit" with
# the worst ratio of the default's frames to ceil(records / 19).
# With --rtt MS the board sits behind a link of that round trip (a remote
# board over USB/IP: each transfer completes MS after it was submitted) and
# the times of InitTav, Close and a session (open, InitTav, InitPWMB, a
# 16-pin Pin_Set, Close) follow, one by one against queued; the last line
# reads "at MS ms round trip a session takes A ms one by one and B ms queued".
#   bench/usb_frames.sh [BUILD] [--rtt MS]      BUILD: a build folder with the tests and benchmarks (build/)
set -euo pipefail
build=build
rtt=0
while [ $# -gt 0 ]; do
    case $1 in
    --rtt) rtt=$2; shift 2 ;;
    *) build=$1; shift ;;
    esac
done
emulated_run=$build/tests/tav_emulated_run
client=$build/bench/tav_usb_frames
for program in "$emulated_run" "$client"; do
    [ -x "$program" ] || { echo "usb_frames: $program not built (tests and benchmarks in $build?)" >&2; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$emulated_run" --rtt "$rtt" --urb-log "$work/urbs" -- "$client" usb:1:2 >"$work/operations"
# The OUT URBs in order, each with its frame; the client's lines say how many
# of them each operation made.
awk '$2 == 2 { print $1 }' "$work/urbs" >"$work/frames"
awk -f "$(dirname "$0")/frames_table.awk" "$work/frames" "$work/operations"
[ "$rtt" = 0 ] && exit 0
awk -v rtt="$rtt" '
    { took[$1, $2] = $4; session[$1] += $4 } # the session: every operation, open included
    END {
        printf "%-10s %14s %10s   (%s ms round trip)\n", "", "one-by-one ms", "queued ms", rtt
        printf "%-10s %14.0f %10.0f\n", "InitTav", took["one-by-one", "InitTav"], took["queued", "InitTav"]
        printf "%-10s %14.0f %10.0f\n", "Close", took["one-by-one", "Close"], took["queued", "Close"]
        printf "%-10s %14.0f %10.0f\n", "session", session["one-by-one"], session["queued"]
        printf "at %s ms round trip a session takes %.0f ms one by one and %.0f ms queued\n", rtt,
               session["one-by-one"], session["queued"]
    }' "$work/operations"
