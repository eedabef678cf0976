#!/usr/bin/env bash
# The README's quick start, word for word: each of its command lines runs as
# it stands, in a folder laid out as a clone after scripts/demo.sh (build/ is
# this build). The set-up scripts themselves (demo.sh, test.sh) are the CI's
# own jobs and the udev line needs root, so those are left out; the lines for
# a real board run against a board that umockdev emulates.
#   tests/readme_quickstart_test.sh SOURCE_DIR BUILD_DIR [EMULATED_RUN]
set -u
source_dir=$(realpath "$1")
build_dir=$(realpath "$2")
emulated_run=${3:-}
source "$(dirname "$0")/support/steps.sh"

section=$(awk '/^## Quick start/ { on = 1; next } on && /^## / { exit } on' "$source_dir/README.md")
lines=$(sed -n 's/^    //p' <<<"$section")
step "the quick start is within the README's first 60 lines" bash -c \
    "[ \$(grep -n '^## Quick start' '$source_dir/README.md' | cut -d: -f1) -lt 20 ] &&
     [ \$(grep -n '^    scripts/test.sh' '$source_dir/README.md' | cut -d: -f1) -le 60 ]"
step "the quick start names the demo and the test script" bash -c \
    "grep -qx 'scripts/demo.sh' <<<'$lines' && grep -qx 'scripts/test.sh' <<<'$lines'"

mkdir -p "$work/clone"
cd "$work/clone"
ln -s "$build_dir" build
ln -s "$source_dir/examples" examples
ln -s "$source_dir/python" python
ln -s "$source_dir/packaging" packaging
unset TAV_DEVICE TAV_LIBRARY PYTHONPATH TAV_TRACE
count=0
while IFS= read -r line; do
    case $line in scripts/* | sudo\ *) continue ;; esac
    count=$((count + 1))
    runner=""
    # The lines after the udev rule are for a real board.
    if grep -q 'tavctl list\|tavctl run' <<<"$line" && [ -n "$emulated_run" ]; then
        runner="$emulated_run --"
    elif grep -q 'tavctl list\|tavctl run' <<<"$line"; then
        continue
    fi
    step "quick start: $line" bash -c "export TAV_LIBRARY=\${TAV_LIBRARY:-} PYTHONPATH=\${PYTHONPATH:-}
        $(grep '^export ' <<<"$lines")
        $runner bash -c '$line' >'$work/out' 2>&1 || { cat '$work/out'; exit 1; }
        case '$line' in *list) grep -q '^usb:001:002 .*TAV board' '$work/out' ;; *blink*) grep -Eq 'P4.8|blinked' '$work/out' ;; esac"
done <<<"$lines"
step "the quick start's lines were found and run" test "$count" -ge 4
finish_steps
