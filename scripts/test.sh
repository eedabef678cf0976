#!/usr/bin/env bash
# Builds the library, the tools and the tests twice (plain with warnings as
# errors, then with AddressSanitizer + UBSan) and runs every test in both;
# then the unit tests under valgrind's memcheck, the thread tests under
# ThreadSanitizer, each fuzz target for a short while, and the Windows
# cross-builds with their tests under wine (scripts/windows.sh). A failing
# part does not stop the others; the last line counts every test of every
# part: "N passed, N failed" (exit status 1 when any failed).
set -uo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh || { echo "0 passed, 1 failed (the packages could not be installed)"; exit 1; }

jobs=$(nproc 2>/dev/null || echo 2)
source scripts/count-tests.sh
log=$(mktemp)
trap 'rm -f "$log" "$failure_notes"' EXIT

# one NAME COMMAND...: a part that is one test.
one() {
    local name=$1
    shift
    if "$@"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAILED: $name" | tee -a "$failure_notes"; fi
}

run_build() {
    local dir=$1
    shift
    if cmake -S . -B "$dir" -DTAV_WERROR=ON "$@" >/dev/null && cmake --build "$dir" -j "$jobs"; then
        (cd "$dir" && ctest --output-on-failure -j "$jobs") 2>&1 | tee "$log"
        count_ctest "$log"
    else
        failed=$((failed + 1))
        echo "FAILED: the build in $dir" | tee -a "$failure_notes"
    fi
}

valgrind_clean() {
    valgrind --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite,indirect \
        --show-leak-kinds=definite,indirect -q "$1" >build/valgrind.log 2>&1 ||
        { tail -n 60 build/valgrind.log; echo "valgrind: $1 failed"; return 1; }
    echo "valgrind: $1 clean"
}

thread_sanitizer() {
    cmake -S . -B build-tsan -DTAV_WERROR=ON -DTAV_TSAN=ON -DCMAKE_BUILD_TYPE=Debug -DTAV_BUILD_BENCH=OFF >/dev/null &&
        cmake --build build-tsan -j "$jobs" --target tav_thread_tests &&
        TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" build-tsan/tests/tav_thread_tests
}

echo "== plain build (with the documentation site, warnings being errors) =="
run_build build -DTAV_BUILD_TESTS=ON -DTAV_BUILD_BENCH=ON -DTAV_BUILD_DOCS=ON
echo "== unit tests and the C interface under valgrind memcheck =="
# Both run on virtual boards only, so no suppression is needed: libusb and
# umockdev are not loaded.
for program in build/tests/tav_tests build/tests/tav_c_api_test; do
    one "valgrind $program" valgrind_clean "$program"
done
echo "== sanitizer build (ASan + UBSan) =="
run_build build-sanitize -DTAV_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug -DTAV_BUILD_BENCH=OFF
echo "== thread tests under ThreadSanitizer =="
one "thread tests under ThreadSanitizer" thread_sanitizer
echo "== fuzzing (libFuzzer, ${TAV_FUZZ_SECONDS:-20}s per target) =="
one "fuzzing" scripts/fuzz.sh
echo "== Windows: MinGW-w64 cross-builds, tests under wine =="
scripts/windows.sh 2>&1 | tee "$log"
windows_line=$(grep -E '^windows: [0-9]+ passed, [0-9]+ failed$' "$log" | tail -n 1)
if [ -z "$windows_line" ]; then
    failed=$((failed + 1))
    echo "FAILED: the Windows builds" | tee -a "$failure_notes"
else
    passed=$((passed + $(awk '{ print $2 }' <<<"$windows_line")))
    failed=$((failed + $(awk '{ print $4 }' <<<"$windows_line")))
fi

show_failures
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
