# Sourced by scripts/test.sh and scripts/windows.sh: the running counts of a
# test command and the parts that add to them.
passed=0
failed=0

# count_ctest LOG: adds what the ctest run logged in LOG reported ("..., 3
# tests failed out of 130"); a run that reported nothing counts as one
# failure.
count_ctest() {
    local line total bad
    line=$(grep -E 'tests? failed out of [0-9]+' "$1" | tail -n 1)
    if [ -z "$line" ]; then
        failed=$((failed + 1))
        return
    fi
    bad=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$line")
    total=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\2/' <<<"$line")
    passed=$((passed + total - bad))
    failed=$((failed + bad))
    [ "$bad" -eq 0 ] || note_failures "$1"
}

# note_failures LOG: keeps the lines of LOG that say what failed, for
# show_failures at the end of a long run (CI shows a run's last lines). A
# script run by another one adds to its caller's notes.
if [ -z "${failure_notes:-}" ]; then
    failure_notes=$(mktemp)
    export failure_notes
    own_failure_notes=1
fi
note_failures() {
    grep -E '^(FAIL|FAILED)[: ]|\*\*\*Failed|\[  FAILED  \]|Timeout|^.*:[0-9]+: Failure$' "$1" >>"$failure_notes"
}
show_failures() {
    [ -n "${own_failure_notes:-}" ] && [ -s "$failure_notes" ] || return 0
    echo "== what failed =="
    cat "$failure_notes"
}

# count_steps LOG: adds what a steps script (tests/support/steps.sh) logged
# in LOG as its closing line ("12 passed, 1 failed"); none counts as a failure.
count_steps() {
    local line
    line=$(grep -E '^[0-9]+ passed, [0-9]+ failed$' "$1" | tail -n 1)
    if [ -z "$line" ]; then
        failed=$((failed + 1))
        return
    fi
    passed=$((passed + $(awk '{ print $1 }' <<<"$line")))
    failed=$((failed + $(awk '{ print $3 }' <<<"$line")))
    note_failures "$1"
}
