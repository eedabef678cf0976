#!/usr/bin/env bash
# Builds tavlib and runs the main job: tavctl runs examples/demo.tav on the
# attached board, or on the virtual board (and shows its view) when none is.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
# The same folder and options as the plain build of scripts/test.sh, which
# then goes on from here instead of building again.
cmake -S . -B build -DTAV_WERROR=ON >/dev/null
cmake --build build -j "$(nproc 2>/dev/null || echo 2)" --target tavctl
tavctl=build/tools/tavctl/tavctl

if "$tavctl" info >/dev/null 2>&1; then
    echo "== running examples/demo.tav on the attached board =="
    exec "$tavctl" run examples/demo.tav
fi
echo "== no board attached: running examples/demo.tav on the virtual board =="
exec "$tavctl" --sim run examples/demo.tav
