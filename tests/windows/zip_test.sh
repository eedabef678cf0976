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
    include/tav/board.hpp include/tav/libusb0_win32.h python/tav/__init__.py LICENSE.txt README-windows.txt; do
    step "the zip holds $file" test -s "$root/$file"
done
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

finish_steps
