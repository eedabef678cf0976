#!/usr/bin/env bash
# bindings/dotnet/Tav.cs with its tests, built by Debian's Mono C# compiler
# and run by Mono against the libtav of this build.
#   tests/dotnet/mono_test.sh SOURCE_DIR LIBRARY_DIR
set -eu
source_dir=$(realpath "$1")
library_dir=$(realpath "$2")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mcs -warnaserror -out:"$work/TavTests.exe" "$source_dir/bindings/dotnet/Tav.cs" "$source_dir/tests/dotnet/TavTests.cs"
LD_LIBRARY_PATH="$library_dir${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}" mono "$work/TavTests.exe"
