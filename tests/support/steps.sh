# Sourced by the shell tests that run a list of steps: a scratch folder
# ($work, removed at exit) and step NAME COMMAND..., which runs the command
# quietly, counts it passed or failed with the seconds it took, and shows the
# end of its output when it fails. The script ends with: finish_steps.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
passed=0
failed=0
step() {
    local name=$1 started=$SECONDS
    shift
    if "$@" >"$work/log" 2>&1; then
        passed=$((passed + 1)); echo "ok: $name ($((SECONDS - started)) s)"
    else
        failed=$((failed + 1)); echo "FAIL: $name ($((SECONDS - started)) s)"; tail -n 30 "$work/log"
    fi
}
finish_steps() {
    echo "$passed passed, $failed failed"
    [ "$failed" -eq 0 ]
}
