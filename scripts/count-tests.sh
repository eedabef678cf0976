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
}
