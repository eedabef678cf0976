#!/usr/bin/env bash
# USB frames per operation, one by one (libusb 0.1) against queued
# (libusb-1.0, "queued:" selectors), on the board that umockdev emulates
# with its frame clock: at most 19 packets of 64 bytes per 1 ms frame, and a
# transfer submitted after the previous one completed waits for the next
# frame. Both backends run in the same run, on the same board. Prints a
# table and, last, "queued within R of the frame limit" with the worst ratio
# of queued frames to ceil(records / 19).
#   bench/usb_frames.sh [BUILD]      BUILD: a build folder with the tests and benchmarks (build/)
set -euo pipefail
build=${1:-build}
emulated_run=$build/tests/tav_emulated_run
client=$build/bench/tav_usb_frames
for program in "$emulated_run" "$client"; do
    [ -x "$program" ] || { echo "usb_frames: $program not built (tests and benchmarks in $build?)" >&2; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$emulated_run" --urb-log "$work/urbs" -- "$client" usb:1:2 >"$work/operations"
# The OUT URBs in order, each with its frame; the client's lines say how many
# of them each operation made.
awk '$2 == 2 { print $1 }' "$work/urbs" >"$work/frames"
awk -f "$(dirname "$0")/frames_table.awk" "$work/frames" "$work/operations"
