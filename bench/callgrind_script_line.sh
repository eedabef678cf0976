#!/usr/bin/env bash
# Instructions per script line of tavctl (callgrind), next to the same
# operation from Python (the tav package) and from C: each figure is the
# difference of two runs (2000 and 1000 operations) divided by 1000, so
# start-up does not count. The operation: pin set P4.8 on a virtual board
# (from Python by its name and by its identifier).
#   bench/callgrind_script_line.sh build/tools/tavctl/tavctl build/libtav.so.1 build/bench/tav_pin_set_loop
set -euo pipefail
tavctl=$(realpath "$1")
library=$(realpath "$2")
c_loop=$(realpath "$3")
here=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

instructions() { # COMMAND...
    valgrind --tool=callgrind --callgrind-out-file="$work/out" "$@" >/dev/null 2>"$work/log"
    awk '/^summary:/ { print $2 }' "$work/out"
}
per_line() { # LOW HIGH
    echo "($2 - $1) / 1000" | bc
}

for count in 1000 2000; do
    for _ in $(seq "$count"); do echo 'pin set P4.8'; done >"$work/script$count.tav"
done
low=$(instructions "$tavctl" --sim run "$work/script1000.tav")
high=$(instructions "$tavctl" --sim run "$work/script2000.tav")
printf '%-28s %s\n' "tavctl script line" "$(per_line "$low" "$high")"

cat >"$work/python.py" <<'PY'
import sys
import tav
board = tav.open("sim:T")
pin = int(sys.argv[2], 0) if sys.argv[2].startswith("0x") else sys.argv[2]
for _ in range(int(sys.argv[1])):
    board.set(pin)
PY
export TAV_LIBRARY=$library PYTHONPATH=$here/python PYTHONHASHSEED=0
for pin in P4.8 0x40000100; do
    low=$(instructions /usr/bin/python3 "$work/python.py" 1000 "$pin")
    high=$(instructions /usr/bin/python3 "$work/python.py" 2000 "$pin")
    printf '%-28s %s\n' "Python board.set($pin)" "$(per_line "$low" "$high")"
done

low=$(instructions "$c_loop" 1000)
high=$(instructions "$c_loop" 2000)
printf '%-28s %s\n' "C tav_pin_set" "$(per_line "$low" "$high")"
