#!/usr/bin/env bash
# USB frames per operation on Windows, under wine: bench/usb_frames.c
# (tav_usb_frames.exe) on a board behind each stand-in DLL in turn, sync:
# against tav_open("") (queued by default), on the stand-ins' frame clock
# (the emulated board's: 19 packets a 1 ms frame). Prints a table per DLL
# and, last for each, "ARCH DLL: the default (queued) within R of the frame
# limit"; fails when R is above 1.5.
#   tests/windows/frames.sh BUILD ARCH      BUILD: a Windows build folder
set -uo pipefail
build=$1
arch=$2
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$build/bin/tav_usb_frames.exe" "$build/bin/tav.dll" "$build/bin/standin/libusb0.dll" \
    "$build/bin/standin/libusb-1.0.dll" "$work/" || exit 1
status=0
# DLL, the variable that gives its stand-in a board, the board's address.
for run in "libusb0.dll TAV_STANDIN_BOARDS usb:0:1" "libusb-1.0.dll TAV_STANDIN1_BOARDS usb:1:1"; do
    read -r dll variable address <<<"$run"
    rm -f "$work/urbs"
    if ! (cd "$work" && env "$variable=T" TAV_STANDIN_URB_LOG="$(winepath -w "$work/urbs" 2>/dev/null)" \
            wine ./tav_usb_frames.exe "$address" >"$work/operations" 2>"$work/err"); then
        echo "frames: tav_usb_frames.exe failed through $dll"; cat "$work/err"; status=1; continue
    fi
    tr -d '\r' <"$work/operations" >"$work/operations.txt"
    tr -d '\r' <"$work/urbs" | awk '$2 == 2 { print $1 }' >"$work/frames"
    echo "$arch $dll:"
    awk -v label="$arch $dll: " -v max_ratio=1.5 -f "$source_dir/bench/frames_table.awk" \
        "$work/frames" "$work/operations.txt" || status=1
done
exit $status
