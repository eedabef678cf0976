#!/usr/bin/env bash
# The NuGet package as a .NET developer gets it: its layout, and a C# program
# compiled against its assembly (Mono's compiler) that runs on Linux with the
# package's assembly, its dllmap and its native library beside it, nothing
# else set.
#   tests/dotnet/nuget_test.sh SOURCE_DIR NUPKG
set -u
source_dir=$(realpath "$1")
nupkg=$(realpath "$2")
source "$(dirname "$0")/../support/steps.sh"

step "the package unpacks" unzip -q "$nupkg" -d "$work/package"
for file in Tav.Net.nuspec lib/net45/Tav.Net.dll lib/net45/Tav.Net.dll.config runtimes/win-x64/native/tav.dll \
    runtimes/win-x86/native/tav.dll runtimes/linux-x64/native/libtav.so; do
    step "the package holds $file" test -s "$work/package/$file"
done
step "its native libraries are of their platforms" bash -c "
    file '$work/package/runtimes/win-x64/native/tav.dll' | grep -q 'PE32+ executable (DLL).*x86-64' &&
    file '$work/package/runtimes/win-x86/native/tav.dll' | grep -q 'PE32 executable (DLL).*Intel 80386' &&
    file '$work/package/runtimes/linux-x64/native/libtav.so' | grep -q 'ELF 64-bit LSB shared object, x86-64'"
step "they are stripped" bash -c "[ \$(stat -c %s '$work/package/runtimes/win-x64/native/tav.dll') -lt 3000000 ] &&
    ! file '$work/package/runtimes/linux-x64/native/libtav.so' | grep -q 'not stripped'"
step "the nuspec names the package and its version" bash -c "grep -q '<id>Tav.Net</id>' '$work/package/Tav.Net.nuspec' &&
    grep -q \"<version>\$(sed -n 's/^project(tavlib VERSION \\([0-9.]*\\).*/\\1/p' '$source_dir/CMakeLists.txt')</version>\" \\
    '$work/package/Tav.Net.nuspec'"
mkdir -p "$work/app"
cp "$work/package/lib/net45/Tav.Net.dll" "$work/package/lib/net45/Tav.Net.dll.config" \
    "$work/package/runtimes/linux-x64/native/libtav.so" "$work/app/"
step "a C# program compiles against the package's assembly" \
    mcs -warnaserror -r:"$work/app/Tav.Net.dll" -out:"$work/app/Blink.exe" "$source_dir/examples/csharp/Blink.cs"
step "it runs under Mono with the package's files beside it" bash -c "cd / && env -u LD_LIBRARY_PATH TAV_DEVICE=sim:T \\
    mono '$work/app/Blink.exe' | grep -qx 'blinked P4.8 on board model T'"
# Tav.cs compiled into the program itself, as its header says: the program's
# own .config carries the same dllmap.
mkdir -p "$work/own"
cp "$work/package/runtimes/linux-x64/native/libtav.so" "$work/own/"
cp "$source_dir/bindings/dotnet/Tav.Net.dll.config" "$work/own/Blink.exe.config"
step "Tav.cs compiled into a program runs with its .config and libtav.so beside it" bash -c "
    mcs -warnaserror -out:'$work/own/Blink.exe' '$source_dir/examples/csharp/Blink.cs' '$source_dir/bindings/dotnet/Tav.cs' &&
    cd / && env -u LD_LIBRARY_PATH TAV_DEVICE=sim:T mono '$work/own/Blink.exe' | grep -qx 'blinked P4.8 on board model T'"
finish_steps
