#!/usr/bin/env bash
# Builds tavlib and runs the main job: tavctl runs examples/demo.tav on the
# attached board, or on the virtual board (and shows its view) when none is.
# Installs only what the library and tavctl need (scripts/test.sh installs
# the test tools).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh --only cmake g++ make pkg-config libusb-dev libusb-1.0-0-dev libcli11-dev libboost-dev \
    nlohmann-json3-dev
# The folder of the plain build of scripts/test.sh, which then goes on from
# here with the tests on.
echo "== building tavctl in build/ =="
log=$(mktemp)
trap 'rm -f "$log"' EXIT
if ! { cmake -S . -B build -DTAV_WERROR=ON -DTAV_BUILD_TESTS=OFF -DTAV_BUILD_BENCH=OFF &&
       cmake --build build -j "$(nproc 2>/dev/null || echo 2)" --target tavctl; } >"$log" 2>&1; then
    tail -n 40 "$log"
    echo "demo: the build failed (above)"
    exit 1
fi
rm -f "$log" # exec below leaves no trap to run
tavctl=build/tools/tavctl/tavctl

if "$tavctl" info >/dev/null 2>&1; then
    echo "== running examples/demo.tav on the attached board =="
    exec "$tavctl" run examples/demo.tav
fi
echo "== no board attached: running examples/demo.tav on the virtual board =="
exec "$tavctl" --sim run examples/demo.tav
