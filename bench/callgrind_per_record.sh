#!/usr/bin/env bash
# Instructions per record of the library (callgrind), against a USB backend
# that does nothing, next to a raw loop handing prebuilt records to the same
# backend. Each figure is the difference of two runs (2000 and 1000
# operations) divided by the records those 1000 extra operations send.
# trace-pin-set-1 runs pin-set-1 with TAV_TRACE writing a record log.
#   bench/callgrind_per_record.sh build/bench/tav_record_cost
set -euo pipefail
program=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

instructions() { # OPERATION COUNT
    TAV_TRACE="$work/run.tavtrace" valgrind --tool=callgrind --callgrind-out-file="$work/out" "$program" "$1" "$2" \
        >/dev/null 2>"$work/log"
    awk '/^summary:/ { print $2 }' "$work/out"
}

printf '%-12s %8s %s\n' operation records instructions/record
for entry in raw:1 pin-set-1:1 c-pin-set-1:1 pin-set-16:16 c-pin-set-16:16 init-pwm-b:17 c-init-pwm-b:17 \
             init-tav:61 c-init-tav:61 trace-pin-set-1:1; do
    operation=${entry%%:*}
    records=${entry##*:}
    low=$(instructions "$operation" 1000)
    high=$(instructions "$operation" 2000)
    printf '%-12s %8s %.1f\n' "$operation" "$records" "$(echo "($high - $low) / (1000 * $records)" | bc -l)"
done
