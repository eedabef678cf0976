#!/usr/bin/env bash
# Every file of examples/ runs on a virtual board (TAV_DEVICE=sim:T), as its
# header says to build and run it, so that none rots: Python, C, C++, C#
# (when Mono is there) and the tavctl scripts.
#   tests/examples_test.sh SOURCE_DIR LIBRARY_DIR TAVCTL
set -u
source_dir=$(realpath "$1")
library_dir=$(realpath "$2")
tavctl_dir=$(dirname "$(realpath "$3")")
source "$(dirname "$0")/support/steps.sh"
examples=$source_dir/examples
export TAV_DEVICE=sim:T LD_LIBRARY_PATH="$library_dir" TAV_LIBRARY="$library_dir/libtav.so.1"
export PYTHONPATH="$source_dir/python" PATH="$tavctl_dir:$PATH"
unset TAV_TRACE
cd "$work"

# runs COMMAND... and wants each of the expected lines (extended regular expressions) in its output
expect() {
    local lines=$1
    shift
    "$@" >"$work/out" 2>&1 || { cat "$work/out"; return 1; }
    while IFS= read -r line; do
        grep -Eq -- "$line" "$work/out" || { echo "no line /$line/ in:"; cat "$work/out"; return 1; }
    done <<<"$lines"
}

BLINK='^blinked P4\.8 on board model T$'
SWEEP='^swept group B channel 1 .*20000 Hz'
HEAL=$'^board left\n^board back'
for name in blink pwm_sweep heal trace_vcd; do
    case $name in blink) want=$BLINK ;; pwm_sweep) want=$SWEEP ;; heal) want=$HEAL ;; trace_vcd) want='^wrote blink\.vcd$' ;; esac
    step "python/$name.py" expect "$want" timeout 60 /usr/bin/python3 "$examples/python/$name.py"
    step "c/$name.c" bash -c "cc -std=c11 -Wall -Wextra -Wpedantic -Werror -I'$source_dir/include' '$examples/c/$name.c' \
        -L'$library_dir' -ltav -o '$work/$name' && $(declare -f expect); expect \"\$1\" timeout 60 '$work/$name'" _ "$want"
    step "cpp/$name.cpp" bash -c "c++ -std=c++17 -Wall -Wextra -Wpedantic -Werror -I'$source_dir/include' \
        '$examples/cpp/$name.cpp' -L'$library_dir' -ltav -o '$work/$name++' && $(declare -f expect); \
        expect \"\$1\" timeout 60 '$work/$name++'" _ "$want"
done
step "heal restores P4.8 (python, c, c++)" bash -c "
    for program in '/usr/bin/python3 $examples/python/heal.py' '$work/heal' '$work/heal++'; do
        \$program | grep -qx 'P4.8 after the replug: output high' || exit 1
    done"
step "the VCDs show P4.8 rising after 250 ms" bash -c "grep -q 'P4_8_PB8' blink.vcd && grep -q '^#250000000$' blink.vcd"
step "cpp/board_info.cpp" bash -c "c++ -std=c++17 -Wall -Wextra -Werror -I'$source_dir/include' \
    '$examples/cpp/board_info.cpp' -L'$library_dir' -ltav -o '$work/board_info' && '$work/board_info' --sim | grep -q '^board model T'"

if command -v mcs >/dev/null && command -v mono >/dev/null; then
    for name in Blink PwmSweep Heal TraceVcd; do
        case $name in Blink) want=$BLINK ;; PwmSweep) want=$SWEEP ;; Heal) want=$'^board left: connected False$\n^board back: connected True$' ;;
                      TraceVcd) want='^wrote trace\.vcd$' ;; esac
        step "csharp/$name.cs under Mono" bash -c "mcs -warnaserror -out:'$work/$name.exe' '$examples/csharp/$name.cs' \
            '$source_dir/bindings/dotnet/Tav.cs' && $(declare -f expect); TAV_TRACE=trace.vcd expect \"\$1\" timeout 60 \
            mono '$work/$name.exe'" _ "$want"
    done
    step "TAV_TRACE wrote the C# program's waveform" grep -q 'P4_8_PB8' trace.vcd
fi

step "tavctl/blink.tav" expect '^P4\.8 \(PB8\): (high|low)$' tavctl --sim run "$examples/tavctl/blink.tav"
step "tavctl/pwm_sweep.tav" expect 'duty 3600/3600 \(100\.00%\)' tavctl --sim run "$examples/tavctl/pwm_sweep.tav"
step "tavctl/heal.tav" expect '^  P4\.8   0x40000100  PB8   output high$' tavctl --device reattach:sim:T run "$examples/tavctl/heal.tav"
step "tavctl/trace_vcd.sh" bash -c "'$examples/tavctl/trace_vcd.sh' '$work/tavctl.vcd' '$work/tavctl.svg' >/dev/null && \
    grep -q P4_8_PB8 '$work/tavctl.vcd' && grep -q '<svg' '$work/tavctl.svg'"
step "examples/demo.tav" tavctl --sim run "$examples/demo.tav"
finish_steps
