#!/usr/bin/env bash
# Builds the library, the tools and the tests twice (plain with warnings as
# errors, then with AddressSanitizer + UBSan) and runs every test in both.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

jobs=$(nproc 2>/dev/null || echo 2)

run_build() {
    local dir=$1
    shift
    cmake -S . -B "$dir" -DTAV_WERROR=ON "$@" >/dev/null
    cmake --build "$dir" -j "$jobs"
    (cd "$dir" && ctest --output-on-failure -j "$jobs")
}

echo "== plain build =="
run_build build
echo "== sanitizer build (ASan + UBSan) =="
run_build build-sanitize -DTAV_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug -DTAV_BUILD_BENCH=OFF
