#!/usr/bin/env bash
# Regenerates docs/demo.svg (shown in the README) and docs/demo.vcd: what the
# virtual board's pins do under examples/demo.tav, in virtual time.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -DTAV_WERROR=ON >/dev/null
cmake --build build -j "$(nproc 2>/dev/null || echo 2)" --target tavctl
build/tools/tavctl/tavctl --sim --virtual-time --vcd docs/demo.vcd --svg docs/demo.svg run examples/demo.tav >/dev/null
echo "wrote docs/demo.svg and docs/demo.vcd"
