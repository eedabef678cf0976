#!/usr/bin/env bash
# The guide "Using tavlib in your project", followed word for word: an
# install into $HOME/tav, then the README's own lines for another prefix and
# its CMake lines, taken from the README as they stand, build and run a C, a
# C++ (CMake) and a Python consumer with nothing else set.
#   tests/readme_install_test.sh SOURCE_DIR BUILD_DIR
set -u
source_dir=$(realpath "$1")
build_dir=$(realpath "$2")
source "$(dirname "$0")/support/steps.sh"
readme=$source_dir/docs/guides/packaging.md

# The indented lines of the README between two markers.
readme_block() {
    awk -v start="$1" -v stop="$2" 'index($0, start) == 1 { on = 1; next } on && index($0, stop) == 1 { exit }
                                    on && /^    / { print substr($0, 5) }' "$readme"
}
prefix_lines=$(readme_block '*Another prefix*' 'CMake programs get')
cmake_lines=$(readme_block 'CMake:' 'pkg-config (C or C++):')
step "the README has the lines" test -n "$prefix_lines" -a -n "$cmake_lines"

export HOME=$work/home
mkdir -p "$HOME/app"
unset CMAKE_PREFIX_PATH PKG_CONFIG_PATH PYTHONPATH LD_LIBRARY_PATH TAV_LIBRARY
step "install as the README says, into \$HOME/tav" cmake --install "$build_dir" --prefix "$HOME/tav"
cd "$HOME/app"
cp "$source_dir/tests/package/c_consumer.c" my_program.c
step "the README's lines build a C program with pkg-config, and it runs" bash -c "set -e; $prefix_lines
./a.out | grep -q 'P8.16 high on model S'"
cp "$source_dir/tests/package/cxx_consumer/main.cpp" main.cpp
{
    echo "cmake_minimum_required(VERSION 3.16)"
    echo "project(my_program LANGUAGES CXX)"
    echo "add_executable(my_program main.cpp)"
    echo "$cmake_lines"
} >CMakeLists.txt
step "the README's CMake lines build a C++ program, and it runs" bash -c "set -e; $prefix_lines
cmake -S . -B build >/dev/null && cmake --build build >/dev/null && ./build/my_program | grep -q 'P4.8 high'"
step "the README's PYTHONPATH imports tav, which opens a virtual board" bash -c "set -e; $prefix_lines
cd / && /usr/bin/python3 -c 'import tav; print(tav.open(\"sim:T\").model)' | grep -qx T"
finish_steps
