#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan + UBSan) and runs each for a
# bounded time from its seed corpus in fuzz/corpus/ (copied, so the repository
# stays as it is). Longer runs: TAV_FUZZ_SECONDS=600 scripts/fuzz.sh, or run a
# target by hand: build-fuzz/fuzz/board_model_fuzz fuzz/corpus/board_model
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${TAV_FUZZ_SECONDS:-20}
jobs=$(nproc 2>/dev/null || echo 2)
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DTAV_FUZZ=ON -DTAV_WERROR=ON -DTAV_BUILD_TESTS=OFF \
    -DTAV_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
targets=(record_decoder board_model board_info tool_parsers panel_request)
cmake --build build-fuzz -j "$jobs" --target "${targets[@]/%/_fuzz}"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for target in "${targets[@]}"; do
    mkdir -p "$work/$target"
    cp fuzz/corpus/"$target"/* "$work/$target/"
    echo "== fuzzing $target for ${seconds}s =="
    (cd "$work" && "$OLDPWD/build-fuzz/fuzz/${target}_fuzz" -max_total_time="$seconds" -max_len=4096 \
        -print_final_stats=1 "$work/$target" >/dev/null 2>"$work/$target.log") || {
        tail -n 60 "$work/$target.log"
        echo "fuzzing $target found a fault (the input is in the log above)"
        exit 1
    }
    grep -E "^stat::number_of_executed_units|^Done" "$work/$target.log" | tr '\n' ' '
    echo
done
