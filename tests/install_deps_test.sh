#!/usr/bin/env bash
# scripts/install-deps.sh against a package manager of stand-ins (dpkg-query,
# apt-get, sleep on PATH): packages with pending triggers count as installed,
# and a lock held by another job is waited for, not a failure.
#   tests/install_deps_test.sh SOURCE_DIR
set -u
source_dir=$(realpath "$1")
source "$(dirname "$0")/support/steps.sh"
mkdir -p "$work/bin"
# dpkg-query: every package installed with pending triggers, except those
# named in $work/missing.
cat >"$work/bin/dpkg-query" <<'SHIM'
#!/usr/bin/env bash
package=${!#}
if grep -qx "$package" "$SHIM_DIR/missing" 2>/dev/null; then echo -n "unknown ok not-installed"; else echo -n "install ok triggers-pending"; fi
SHIM
# apt-get: logs its arguments; the first $work/locked calls fail as apt does
# when another job holds the lock.
cat >"$work/bin/apt-get" <<'SHIM'
#!/usr/bin/env bash
echo "$*" >>"$SHIM_DIR/apt.log"
count=$(wc -l <"$SHIM_DIR/apt.log")
if [ "$count" -le "$(cat "$SHIM_DIR/locked" 2>/dev/null || echo 0)" ]; then
    echo "E: Could not get lock /var/lib/dpkg/lock-frontend. It is held by process 4242 (apt-get)" >&2
    exit 100
fi
SHIM
printf '#!/bin/sh\n' >"$work/bin/sleep"
printf '#!/bin/sh\necho 0\n' >"$work/bin/id"
chmod +x "$work/bin/"*
export SHIM_DIR=$work PATH=$work/bin:$PATH

step "packages with pending triggers are installed: apt is not called" bash -c "
    '$source_dir/scripts/install-deps.sh' && [ ! -e '$work/apt.log' ]"
echo cmake >"$work/missing"
echo 3 >"$work/locked"
step "a held lock is waited for, then the missing package installed" bash -c "
    '$source_dir/scripts/install-deps.sh' && grep -q 'install -y -qq --no-install-recommends cmake' '$work/apt.log'"
rm -f "$work/apt.log"
echo 1000 >"$work/locked"
step "a lock that is never released fails, after a bounded wait" bash -c "
    ! '$source_dir/scripts/install-deps.sh' && [ \$(wc -l <'$work/apt.log') -eq 120 ]"

finish_steps
