#!/usr/bin/env bash
# Cross-builds tavlib for Windows with MinGW-w64, 64-bit into
# build-windows/x86_64 and 32-bit into build-windows/i686 (tav.dll, its
# import libraries, tavctl.exe, the examples, the tests and the zip), and runs
# the tests of both under wine in a private prefix (build-windows/wine). The
# last line counts them: "windows: N passed, N failed" (a build that fails
# counts as one failure).
set -uo pipefail
cd "$(dirname "$0")/.."

# 32-bit programs need Debian's 32-bit wine, from the i386 architecture.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    sudo_cmd=()
    [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
    "${sudo_cmd[@]}" dpkg --add-architecture i386 && { "${sudo_cmd[@]}" apt-get update -qq || true; }
fi
scripts/install-deps.sh g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix wine wine64 \
    clang lld llvm unzip zip mono-mcs mono-runtime file || { echo "windows: 0 passed, 1 failed"; exit 1; }
# 32-bit wine comes from the i386 lists, which a mirror caught mid-sync can
# leave out of step with the amd64 ones: then the 32-bit build is still
# made, and its tests are said to be skipped, not passed.
wine32=yes
if ! scripts/install-deps.sh wine32:i386 >/dev/null 2>&1; then
    wine32=""
    echo "windows: 32-bit wine (wine32:i386) cannot be installed from the package archive now: the i686 tests are skipped"
fi

jobs=$(nproc 2>/dev/null || echo 2)
export WINEPREFIX=$PWD/build-windows/wine WINEDEBUG=-all WINEARCH=win64
mkdir -p build-windows
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "== a wine prefix for the tests =="
    wineboot --init >/dev/null 2>&1
    wineserver --wait
fi

source scripts/count-tests.sh
log=$(mktemp)
trap 'rm -f "$log"; [ -z "${own_failure_notes:-}" ] || rm -f "$failure_notes"' EXIT
for arch in x86_64 i686; do
    echo "== Windows $arch: cross-build =="
    dir=build-windows/$arch
    # The zip carries the documentation site of the Linux build, when there is one.
    docs=()
    [ ! -f build/docs/html/index.html ] || docs=(-DTAV_DOCS_HTML="$PWD/build/docs/html")
    if ! { cmake -S . -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-$arch.cmake" -DTAV_WERROR=ON "${docs[@]}" >/dev/null &&
           cmake --build "$dir" -j "$jobs"; }; then
        failed=$((failed + 1))
        echo "FAILED: the Windows $arch build" | tee -a "$failure_notes"
        continue
    fi
    if [ "$arch" = i686 ] && [ -z "$wine32" ]; then
        echo "SKIPPED: the Windows i686 tests under wine (no 32-bit wine)"
        continue
    fi
    echo "== Windows $arch: tests under wine =="
    (cd "$dir" && ctest --output-on-failure -j "$jobs") 2>&1 | tee "$log"
    count_ctest "$log"
    echo "== Windows $arch: USB frames per operation, sync: and the default (queued) =="
    if tests/windows/frames.sh "$dir" "$arch"; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        echo "FAILED: USB frames on Windows $arch" | tee -a "$failure_notes"
    fi
done
wineserver --kill 2>/dev/null
# The .NET package: the assembly with both Windows DLLs and the Linux library
# (of the plain Linux build, when there is one).
if [ -f build/libtav.so.1 ] && [ -f build-windows/x86_64/bin/tav.dll ] && [ -f build-windows/i686/bin/tav.dll ]; then
    echo "== the .NET package (NuGet) =="
    : >"$log"
    scripts/nuget.sh build-windows/nuget build/libtav.so.1 build-windows/x86_64/bin/tav.dll \
        build-windows/i686/bin/tav.dll && tests/dotnet/nuget_test.sh . build-windows/nuget/Tav.Net.*.nupkg | tee "$log"
    count_steps "$log" # a package that could not be made logs no closing line: one failure
fi
show_failures
echo "windows: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
