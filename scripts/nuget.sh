#!/usr/bin/env bash
# Builds the .NET assembly Tav.Net.dll from bindings/dotnet/Tav.cs (Mono's C#
# compiler) and the NuGet package Tav.Net.VERSION.nupkg holding it with the
# native libraries: runtimes/win-x64/native/tav.dll, runtimes/win-x86/native/
# tav.dll and runtimes/linux-x64/native/libtav.so, and for Mono the dllmap
# beside the assembly.
#   scripts/nuget.sh OUTPUT_DIR LIBTAV_SO_1 WIN64_TAV_DLL WIN32_TAV_DLL
set -euo pipefail
cd "$(dirname "$0")/.."
output=$(realpath -m "$1")
linux=$(realpath "$2")
win64=$(realpath "$3")
win32=$(realpath "$4")
version=$(sed -n 's/^project(tavlib VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
mkdir -p "$output" "$stage/lib/net45" "$stage/runtimes/win-x64/native" "$stage/runtimes/win-x86/native" \
    "$stage/runtimes/linux-x64/native"
mcs -warnaserror -target:library -out:"$stage/lib/net45/Tav.Net.dll" bindings/dotnet/Tav.cs
cp bindings/dotnet/Tav.Net.dll.config "$stage/lib/net45/"
# Stripped copies: the debugging symbols stay with the builds.
x86_64-w64-mingw32-strip -o "$stage/runtimes/win-x64/native/tav.dll" "$win64"
i686-w64-mingw32-strip -o "$stage/runtimes/win-x86/native/tav.dll" "$win32"
strip --strip-unneeded -o "$stage/runtimes/linux-x64/native/libtav.so" "$linux"
cat >"$stage/Tav.Net.nuspec" <<NUSPEC
<?xml version="1.0" encoding="utf-8"?>
<package xmlns="http://schemas.microsoft.com/packaging/2013/05/nuspec.xsd">
  <metadata>
    <id>Tav.Net</id>
    <version>$version</version>
    <authors>tavlib developers</authors>
    <license type="expression">MIT</license>
    <description>Drive TAV USB input/output boards from C# and VB.NET: Tav.Board over libtav's C interface, with the native library for Windows (x64, x86) and Linux (x64).</description>
    <tags>usb hardware gpio pwm tav</tags>
  </metadata>
</package>
NUSPEC
cat >"$stage/[Content_Types].xml" <<'TYPES'
<?xml version="1.0" encoding="utf-8"?>
<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">
  <Default Extension="nuspec" ContentType="application/octet" />
  <Default Extension="dll" ContentType="application/octet" />
  <Default Extension="so" ContentType="application/octet" />
  <Default Extension="config" ContentType="application/octet" />
  <Default Extension="xml" ContentType="application/octet" />
</Types>
TYPES
rm -f "$output/Tav.Net.$version.nupkg"
(cd "$stage" && zip -q -X -r "$output/Tav.Net.$version.nupkg" "[Content_Types].xml" Tav.Net.nuspec lib runtimes)
cp "$stage/lib/net45/Tav.Net.dll" "$stage/lib/net45/Tav.Net.dll.config" "$output/"
echo "nuget: $output/Tav.Net.$version.nupkg"
