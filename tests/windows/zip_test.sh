#!/usr/bin/env bash
# The Windows zip as a user gets it: made by CPack, unpacked, its files and
# tav.dll's imports checked, and its parts used under wine: tavctl.exe as
# unpacked, and an outside C program built against the unpacked headers and
# import library with tav.dll copied beside it as the only DLL.
#   tests/windows/zip_test.sh SOURCE_DIR BUILD_DIR MINGW_GCC OBJDUMP
set -u
source_dir=$(realpath "$1")
build_dir=$(realpath "$2")
mingw_gcc=$3
objdump=$4
source "$(dirname "$0")/../support/steps.sh"

step "cpack makes the zip" bash -c "cd '$build_dir' && cpack -G ZIP -B '$work/package'"
zip=$(ls "$work"/package/tavlib-*-win*.zip 2>/dev/null | head -n 1)
step "the zip unpacks" unzip -q "$zip" -d "$work/unpacked"
root=$(ls -d "$work"/unpacked/tavlib-* | head -n 1)
for file in bin/tav.dll bin/tavctl.exe lib/tav.lib lib/libtav.dll.a include/tav/TAVLib.h include/tav/tav.h \
    include/tav/board.hpp include/tav/libusb0_win32.h python/tav/__init__.py python/tav/tav.dll dotnet/Tav.cs \
    dotnet/tav.dll LICENSE.txt README-windows.txt; do
    step "the zip holds $file" test -s "$root/$file"
done
if grep -q '^TAV_DOCS_HTML:.*=..*' "$build_dir/CMakeCache.txt"; then
    step "the zip holds the documentation site" test -s "$root/doc/html/reference/c.html"
fi
step "the zip holds the examples" test -s "$root/examples/python/blink.py"
# Windows' own DLLs only: no libstdc++, libgcc or winpthread to ship.
foreign=$("$objdump" -p "$root/bin/tav.dll" | awk '/DLL Name:/ { print tolower($3) }' |
    grep -v -x -E 'kernel32\.dll|msvcrt\.dll' | tr '\n' ' ')
step "tav.dll imports only Windows' own DLLs${foreign:+, not $foreign}" test -z "$foreign"
step "the unpacked tavctl.exe drives a virtual board" bash -c "wine '$root/bin/tavctl.exe' --sim=S info | grep -q 'model: S'"
step "tavctl says why USB shows no board" bash -c "wine '$root/bin/tavctl.exe' info 2>&1 | grep -q 'neither libusb0.dll (libusb-win32) nor libusb-1.0.dll'"
mkdir -p "$work/app"
step "a C program builds against the zip" "$mingw_gcc" -std=c99 -I"$root/include" \
    "$source_dir/tests/package/c_consumer.c" -L"$root/lib" -ltav -o "$work/app/consumer.exe"
cp "$root/bin/tav.dll" "$work/app/"
step "it runs with tav.dll copied beside it" bash -c "wine '$work/app/consumer.exe' | grep -q 'P8.16 high on model S'"

# README-windows.txt's hand-build lines for this zip's arch, word for word, in
# the unpacked folder: a C and a C++ program (TAVLib.h and board.hpp).
arch_prefix=$(basename "$mingw_gcc" | sed 's/-gcc.*//')
hand_lines=$(sed -n "s/^  \($arch_prefix-g[c+][c+] .*\)$/\1/p" "$root/README-windows.txt")
step "README-windows.txt has the hand-build lines for $arch_prefix" test "$(wc -l <<<"$hand_lines")" -eq 2
cp "$source_dir/tests/package/c_consumer.c" "$root/my_program.c"
cp "$source_dir/tests/package/cxx_consumer/main.cpp" "$root/my_program.cpp"
step "the hand-build lines build both programs" bash -c "cd '$root' && set -e
$hand_lines"
cp "$root/bin/tav.dll" "$root/tav.dll"
step "the hand-built C program runs with tav.dll beside it" bash -c "cd '$root' && wine ./my_program.exe | grep -q 'P8.16 high on model S'"
step "the hand-built C++ program runs with only tav.dll beside it" bash -c "cd '$root' && wine ./my_program_cpp.exe | grep -q 'P4.8 high'"
step "the zip's copies of tav.dll are stripped as bin's is" bash -c "
    [ \$(stat -c %s '$root/python/tav/tav.dll') -le \$(( \$(stat -c %s '$root/bin/tav.dll') + 4096 )) ] &&
    [ \$(stat -c %s '$root/dotnet/tav.dll') -le \$(( \$(stat -c %s '$root/bin/tav.dll') + 4096 )) ]"
step "the zip's licence is the plain MIT text" grep -q '^MIT License' "$root/LICENSE.txt"

# A CMake program built against the unzipped package with the MinGW
# toolchain (cross-compiling: tav_DIR, as the README says), tav.dll put
# beside it by tav_copy_runtime. Its own C++ runtime is linked in, as a
# MinGW program to be run elsewhere needs (or ships libstdc++-6.dll too).
toolchain=$(grep -l "$(basename "$mingw_gcc" | sed 's/-gcc.*//')" "$source_dir"/cmake/mingw-w64-*.cmake | head -n 1)
step "a CMake program configures against the zip (tav_DIR)" cmake -S "$source_dir/tests/package/cxx_consumer" \
    -B "$work/cmake-app" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -Dtav_DIR="$root/lib/cmake/tav" \
    -DCMAKE_EXE_LINKER_FLAGS=-static
step "it builds" cmake --build "$work/cmake-app"
step "tav_copy_runtime put tav.dll beside it" test -s "$work/cmake-app/tav.dll"
step "it runs under wine" bash -c "cd '$work/cmake-app' && wine ./consumer.exe"

# The Python wheel of this arch: tav.dll inside, beside the package, loaded
# from there the way Python's ctypes loads it.
wheel=$(ls "$root"/python/tav-*-py3-none-win*.whl 2>/dev/null | head -n 1)
step "the zip holds a Windows wheel" test -s "$wheel"
step "the wheel unpacks" unzip -q "$wheel" -d "$work/wheel"
# The zip's stripped copy, but for the time and checksum strip stamps into
# the PE header.
step "the wheel carries tav.dll beside the package" bash -c \
    "[ \$(cmp -l '$work/wheel/tav/tav.dll' '$root/bin/tav.dll' | wc -l) -le 8 ]"
platform=$(basename "$wheel" .whl | sed 's/.*-py3-none-//')
step "the wheel's tag is $platform, not pure" bash -c "grep -qx 'Tag: py3-none-$platform' '$work'/wheel/tav-*.dist-info/WHEEL && grep -qx 'Root-Is-Purelib: false' '$work'/wheel/tav-*.dist-info/WHEEL"
step "a loader builds" "$mingw_gcc" -std=c99 "$source_dir/tests/windows/load_like_python.c" -o "$work/load_like_python.exe"
step "the wheel's tav.dll loads as ctypes loads it" bash -c "wine '$work/load_like_python.exe' '$(winepath -w "$work/wheel/tav/tav.dll" 2>/dev/null)' | grep -q '^tav [0-9]'"

# libusb-1.0.dll beside tav.dll is found there, in the layouts where tav.dll
# sits beside no program: the wheel's package folder and dotnet\ (the
# loader's own folder has none).
standin=$build_dir/bin/standin/libusb-1.0.dll
for layout in "$work/wheel/tav" "$root/dotnet"; do
    cp "$standin" "$layout/"
    step "libusb-1.0.dll beside tav.dll in ${layout#$work/} is found" bash -c "wine '$work/load_like_python.exe' \
        '$(winepath -w "$layout/tav.dll" 2>/dev/null)' usb | tr -d '\\r' | grep -q 'libusb-1.0.dll (WinUSB and libusbK boards) found$'"
done
# A libusb-1.0.dll of the other architecture beside it: said so (Windows error 193), not "not found".
case $(basename "$mingw_gcc") in
    x86_64*) other_gcc=${mingw_gcc/x86_64/i686} ;;
    *) other_gcc=${mingw_gcc/i686/x86_64} ;;
esac
mkdir -p "$work/otherarch"
cp "$work/wheel/tav/tav.dll" "$work/otherarch/"
step "a DLL of the other architecture builds" bash -c "echo 'int libusb_init(void* c) { (void)c; return 0; }' |
    '$other_gcc' -shared -x c - -o '$work/otherarch/libusb-1.0.dll'"
step "libusb-1.0.dll of the other architecture is named so (error 193)" bash -c "wine '$work/load_like_python.exe' \
    '$(winepath -w "$work/otherarch/tav.dll" 2>/dev/null)' usb > '$work/otherarch.out'; cat '$work/otherarch.out';
    grep -q 'libusb-1.0.dll (WinUSB and libusbK boards) found, but [0-9]*-bit: this program needs the [0-9]*-bit one (Windows error 193)' '$work/otherarch.out' &&
    grep -q '^problem: no USB library found: the libusb-1.0.dll found is a [0-9]*-bit DLL' '$work/otherarch.out'"

finish_steps
