#!/usr/bin/env bash
# The library as its users get it: installed into a temporary prefix and used
# from outside projects (CMake, pkg-config, Python, the installed tavctl), and
# as Debian packages checked by lintian, unpacked into a throw-away root.
#   tests/package_test.sh SOURCE_DIR BUILD_DIR
set -u
source_dir=$(realpath "$1")
build_dir=$(realpath "$2")
source "$(dirname "$0")/support/steps.sh"
jobs=$(nproc 2>/dev/null || echo 2)
prefix=$work/prefix

# serve_starts TAVCTL: the panel comes up on a virtual board and a Ctrl-C
# closes it (at once, not after a fixed wait).
serve_starts() {
    local out
    out=$(mktemp)
    "$1" --sim serve --port 0 >"$out" 2>&1 &
    local pid=$!
    for _ in $(seq 100); do grep -q 'panel of sim:T at' "$out" && break; sleep 0.1; done
    kill -INT "$pid"
    wait "$pid"
    grep -q 'panel of sim:T at' "$out" && grep -q 'closed into the safe state' "$out"
    local status=$?
    cat "$out"
    rm -f "$out"
    return "$status"
}
export -f serve_starts

# --- an installation into a temporary prefix -----------------------------------
step "install into a temporary prefix" cmake --install "$build_dir" --prefix "$prefix"
step "CMake project with find_package(tav CONFIG)" bash -c "
    cmake -S '$source_dir/tests/package/cxx_consumer' -B '$work/cxx' -DCMAKE_PREFIX_PATH='$prefix' &&
    cmake --build '$work/cxx' -j $jobs && '$work/cxx/consumer'"
export PKG_CONFIG_PATH=$prefix/lib/pkgconfig
step "pkg-config --cflags --libs tav builds a C program" bash -c "
    cc -std=c99 -Wall -Wextra -Werror '$source_dir/tests/package/c_consumer.c' -o '$work/c_consumer' \
        \$(pkg-config --cflags --libs tav) -Wl,-rpath,\$(pkg-config --variable=libdir tav) && '$work/c_consumer'"
unset PKG_CONFIG_PATH
step "installed tavctl finds its library without LD_LIBRARY_PATH" bash -c "
    env -u LD_LIBRARY_PATH '$prefix/bin/tavctl' --sim info | grep -q '^model: T$'"
step "installed tavctl serve starts its panel" serve_starts "$prefix/bin/tavctl"
step "installed Python package imports from another folder" bash -c "
    cd / && PYTHONPATH=\$(echo '$prefix'/lib/python3*/dist-packages) env -u TAV_LIBRARY /usr/bin/python3 -c '
import tav
with tav.open(\"sim:T\") as board:
    board.output(\"P4.8\"); board.set(\"P4.8\")
    assert \"PB8   output high\" in board.status()
assert tav.__file__.startswith(\"$prefix\")
'"
step "tavctl --help names its installed example, and it is there" bash -c "
    example=\$('$prefix/bin/tavctl' --help | sed -n 's|^  tavctl --sim run \\(.*/share/doc/tavctl/examples/demo.tav\\)\$|\\1|p') &&
    [ -n \"\$example\" ] && '$prefix/bin/tavctl' --sim run '$prefix/share/doc/tavctl/examples/demo.tav' >/dev/null"
step "pkg-config keeps libusb private: no -lusb for C callers" bash -c "
    ! PKG_CONFIG_PATH='$prefix/lib/pkgconfig' pkg-config --libs tav | grep -q -- -lusb &&
    PKG_CONFIG_PATH='$prefix/lib/pkgconfig' pkg-config --print-requires-private tav | grep -qx libusb"
step "the Python package goes where Debian's python3 looks under /usr/local" bash -c "
    folder=\$(cd '$prefix' && ls -d lib/python3*/dist-packages/tav) &&
    /usr/bin/python3 -c 'import site, sys; sys.exit(\"/usr/local/\" + sys.argv[1][:-4] not in site.getsitepackages())' \"\$folder\""
step "the USB seam is not installed" bash -c "[ -f '$prefix/include/tav/tav.h' ] && [ -z \"\$(find '$prefix/include' -name usb_backend.h)\" ]"
step "udev rule installed with uaccess and a group" bash -c "
    grep -q 'TAG+=\"uaccess\"' '$prefix/lib/udev/rules.d/60-tav-board.rules' &&
    grep -q 'GROUP=\"plugdev\", MODE=\"0660\"' '$prefix/lib/udev/rules.d/60-tav-board.rules'"
step "man pages render without warnings" bash -c "
    for page in '$prefix/share/man/man1/tavctl.1.gz' '$prefix/share/man/man3/tav.3.gz'; do
        zcat \"\$page\" | LC_ALL=C.UTF-8 groff -ww -man -Tutf8 -z 2>&1 | grep . && exit 1
        zcat \"\$page\" | mandoc -T lint -W warning && MANWIDTH=80 man -l \"\$page\" | grep -q 'NAME' || exit 1
    done"

step "add_subdirectory builds tav::tav without tavlib's tests" bash -c "
    cmake -S '$source_dir/tests/package/subdir_consumer' -B '$work/subdir' -DTAV_SOURCE_DIR='$source_dir' &&
    cmake --build '$work/subdir' -j $jobs --target consumer && '$work/subdir/consumer'"

# --- Debian packages --------------------------------------------------------------
deb=$work/deb
# The packages carry the documentation site of this build, when it has one.
docs=""
[ ! -f "$build_dir/docs/html/index.html" ] || docs="-DTAV_DOCS_HTML=$build_dir/docs/html"
step "Debian packages build" bash -c "
    cmake -S '$source_dir' -B '$deb' -DCMAKE_INSTALL_PREFIX=/usr -DTAV_BUILD_TESTS=OFF -DTAV_BUILD_BENCH=OFF $docs &&
    cmake --build '$deb' -j $jobs && cd '$deb' && cpack -G DEB"
step "packages hold their files" bash -c "
    cd '$deb' &&
    dpkg-deb --contents libtav1_*_amd64.deb | grep -q './usr/lib/udev/rules.d/60-tav-board.rules' &&
    dpkg-deb --contents libtav1_*_amd64.deb | grep -q 'libtav.so.1 ->' &&
    dpkg-deb --contents libtav-dev_*_amd64.deb | grep -q './usr/include/tav/tav.h' &&
    dpkg-deb --contents libtav-dev_*_amd64.deb | grep -q 'pkgconfig/tav.pc' &&
    dpkg-deb --contents tavctl_*_amd64.deb | grep -q './usr/share/man/man1/tavctl.1.gz' &&
    dpkg-deb --contents python3-tav_*_all.deb | grep -q './usr/lib/python3/dist-packages/tav/__init__.py' &&
    dpkg-deb -f libtav1_*_amd64.deb Depends | grep -q 'libusb-0.1-4' &&
    dpkg-deb -f tavctl_*_amd64.deb Depends | grep -q 'libtav1 (= ' &&
    dpkg-deb -f tavctl_*_amd64.deb Recommends | grep -q 'libedit2' &&
    dpkg-deb --ctrl-tarfile libtav1_*_amd64.deb | tar -xO ./shlibs | grep -q '^libtav 1 libtav1'"
if [ -n "$docs" ]; then
    step "libtav-dev holds the documentation site" bash -c "
        cd '$deb' && dpkg-deb --contents libtav-dev_*_amd64.deb | grep -q './usr/share/doc/libtav-dev/html/reference/c.html'"
fi
step "each package has its own summary line" bash -c "
    cd '$deb' && [ \$(for package in *.deb; do dpkg-deb -f \"\$package\" Description | head -n 1; done | sort -u | wc -l) -eq 4 ] &&
    dpkg-deb -f tavctl_*_amd64.deb Description | head -n 1 | grep -q '^command-line tool'"
step "lintian finds no errors" bash -c "cd '$deb' && lintian --fail-on error --suppress-tags initial-upload-closes-no-bugs *.deb"
root=$work/root
step "unpacked into a throw-away root, the tool runs and the pages render" bash -c "
    for package in '$deb'/*.deb; do dpkg -x \"\$package\" '$root'; done &&
    LD_LIBRARY_PATH='$root/usr/lib/x86_64-linux-gnu' '$root/usr/bin/tavctl' --sim=S info | grep -q '^model: S$' &&
    LD_LIBRARY_PATH='$root/usr/lib/x86_64-linux-gnu' serve_starts '$root/usr/bin/tavctl' &&
    ! readelf -d '$root/usr/bin/tavctl' | grep -q RUNPATH &&
    MANWIDTH=80 man -l '$root/usr/share/man/man1/tavctl.1.gz' | grep -q 'SAFETY' &&
    cd / && PYTHONPATH='$root/usr/lib/python3/dist-packages' /usr/bin/python3 -c 'import tav; print(tav.open(\"sim:C\").model)' | grep -q C"

finish_steps
