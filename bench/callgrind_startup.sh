#!/usr/bin/env bash
# Start-up cost of tavctl (callgrind): `tavctl --sim info` against a C
# program that prints the same through the C interface. Both include loading
# and relocating their libraries, opening a virtual board and printing.
#   bench/callgrind_startup.sh build/tools/tavctl/tavctl build/bench/tav_startup_info
set -euo pipefail
tavctl=$1
reference=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

instructions() { # COMMAND...
    valgrind --tool=callgrind --callgrind-out-file="$work/out" "$@" >"$work/stdout" 2>"$work/log"
    awk '/^summary:/ { print $2 }' "$work/out"
}

"$tavctl" --sim info >"$work/tavctl.txt"
"$reference" >"$work/c.txt"
cmp -s "$work/tavctl.txt" "$work/c.txt" || { echo "the two programs print different things:"; diff "$work/tavctl.txt" "$work/c.txt"; exit 1; }
tool=$(instructions "$tavctl" --sim info)
plain=$(instructions "$reference")
printf 'tavctl --sim info  %9d instructions\n' "$tool"
printf 'the same from C    %9d instructions\n' "$plain"
printf 'ratio              %9.2f\n' "$(echo "$tool / $plain" | bc -l)"
