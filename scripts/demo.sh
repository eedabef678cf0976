#!/usr/bin/env bash
# Builds tavlib and runs the main job: a board on the virtual bus when no
# real board is attached.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build >/dev/null
cmake --build build -j "$(nproc 2>/dev/null || echo 2)" --target tav-board-info
build/tav-board-info "$@"
