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
awk -v packets=19 '
    NR == FNR { frame[++urbs] = $1; next }
    {
        backend = $1; operation = $2; count = $3
        first = frame[next_urb + 1]; last = frame[next_urb + count]
        next_urb += count
        if (operation == "open") next
        if (!(operation in records)) order[++operations] = operation
        records[operation] = count
        used[backend, operation] = count > 0 ? last - first + 1 : 0
    }
    END {
        if (next_urb != urbs) {
            printf "usb_frames: the board took %d OUT transfers, the client counted %d\n", urbs, next_urb > "/dev/stderr"
            exit 1
        }
        printf "%-12s %8s %12s %8s %7s %14s\n", "operation", "records", "one-by-one", "queued", "limit", "queued/limit"
        worst = 0
        for (i = 1; i <= operations; ++i) {
            operation = order[i]
            limit = int((records[operation] + packets - 1) / packets)
            ratio = used["queued", operation] / limit
            if (ratio > worst) worst = ratio
            printf "%-12s %8d %12d %8d %7d %14.2f\n", operation, records[operation], used["one-by-one", operation],
                   used["queued", operation], limit, ratio
        }
        printf "queued within %.2f of the frame limit\n", worst
    }' "$work/frames" "$work/operations"
