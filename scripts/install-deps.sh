#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when missing.
# Extra package names may be given as arguments; with --only, just those.
# Says what it installs and keeps apt's own output for when it fails. Waits
# (10 minutes at most) for another apt or dpkg job that holds the package
# manager's lock.
set -euo pipefail

packages=(cmake g++ make pkg-config libusb-dev libusb-1.0-0-dev libcli11-dev libboost-dev libgtest-dev libbenchmark-dev umockdev libumockdev-dev
          libedit2 python3 python3-pytest python3-venv valgrind clang libclang-rt-dev
          dpkg-dev file lintian mandoc groff-base man-db sigrok-cli
          nlohmann-json3-dev chromium python3-websocket mono-mcs mono-runtime
          doxygen python3-sphinx python3-breathe python3-myst-parser universal-ctags python3-mypy)
if [ "${1:-}" = --only ]; then
    shift
    packages=()
fi
packages+=("$@")

# A package whose triggers have not run yet is installed all the same.
installed() {
    dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q -x -E 'install ok (installed|triggers-pending|triggers-awaited)'
}

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)

# apt-get, again while another job holds the lock (apt says "Could not get
# lock"), for at most 10 minutes.
apt_get() {
    local attempt output status
    for attempt in $(seq 120); do
        status=0
        output=$("${sudo_cmd[@]}" apt-get -o DPkg::Lock::Timeout=5 "$@" 2>&1) || status=$?
        if [ "$status" -eq 0 ] || ! grep -q -i 'could not get lock\|unable to acquire the dpkg frontend lock' <<<"$output"; then
            [ -z "$output" ] || printf '%s\n' "$output"
            return "$status"
        fi
        [ "$attempt" -gt 1 ] || echo "waiting for another package job to finish (apt's lock is held)"
        sleep 5
    done
    printf '%s\n' "$output"
    return "$status"
}

missing=()
for package in "${packages[@]}"; do
    installed "$package" || missing+=("$package")
done

if [ ${#missing[@]} -gt 0 ]; then
    echo "installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    # A mirror caught mid-sync fails one index; the lists that did come
    # (or older ones) may still hold every package wanted.
    update_status=0
    update_output=$(apt_get update -qq 2>&1) || update_status=$?
    if [ "$update_status" -ne 0 ]; then
        printf '%s\n' "$update_output" | tail -n 20
        grep -q 'Some index files failed to download' <<<"$update_output" || exit "$update_status"
        echo "apt-get update failed in part; installing from the package lists there are"
    fi
    install_status=0
    install_output=$(apt_get install -y -qq --no-install-recommends "${missing[@]}" 2>&1) || install_status=$?
    if [ "$install_status" -ne 0 ]; then
        printf '%s\n' "$install_output" | tail -n 40
        exit "$install_status"
    fi
    echo "installed: ${missing[*]}"
fi
