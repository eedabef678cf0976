#!/usr/bin/env bash
# System calls per record on the real libusb path (umockdev-emulated usbfs),
# made by the calling thread, through libtav and through libusb alone: the
# difference is what the library adds. umockdev's own thread is left out.
# Usage: tests/usbfs/count_syscalls.sh build/tests/tav_usbfs_probe
set -euo pipefail
probe=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

calls() { # mode count -> the calling thread's system calls, by name
    umockdev-wrapper strace -ff -o "$work/$1.$2" "$probe" "$1" "$2" >/dev/null
    local main
    main=$(ls "$work/$1.$2".* | sort -t. -k3 -n | head -n 1)
    grep -o '^[a-z_0-9]*' "$main" | sort | uniq -c
}

for mode in library libusb; do
    calls "$mode" 1000 >"$work/$mode.small"
    calls "$mode" 2000 >"$work/$mode.large"
    echo "$mode: per record (from 1000 more records):"
    join -1 2 -2 2 <(sort -k2 "$work/$mode.small") <(sort -k2 "$work/$mode.large") |
        awk '{ delta = $3 - $2; if (delta != 0) printf "  %-16s %6.2f\n", $1, delta / 1000; total += delta }
             END { printf "  %-16s %6.2f\n", "total", total / 1000 }'
done
