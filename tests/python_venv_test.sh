#!/usr/bin/env bash
# `pip install ./python` in a fresh virtual environment, as the README says,
# after a build: the wheel carries the built libtav, so `import tav` opens a
# virtual board with no TAV_LIBRARY set. Also the source archive and a wheel
# built without a library (pure: it uses the system's libtav).
#   tests/python_venv_test.sh SOURCE_DIR LIBTAV_SO_1
set -u
source_dir=$(realpath "$1")
library=$(realpath "$2")
source "$(dirname "$0")/support/steps.sh"

step "a virtual environment" python3 -m venv "$work/venv"
step "pip installs ./python, offline, carrying the built libtav" \
    env TAV_WHEEL_LIBRARY="$library" "$work/venv/bin/pip" install --no-index --quiet "$source_dir/python"
step "the wheel holds libtav.so.1 beside the package" test -s "$work"/venv/lib/python3*/site-packages/tav/libtav.so.1
step "the wheel is tagged for this platform, not any" bash -c \
    "grep -qx 'Tag: py3-none-linux_[a-z0-9_]*' '$work'/venv/lib/python3*/site-packages/tav-*.dist-info/WHEEL"
cd "$work"
step "import tav opens sim:T with no environment variable" bash -c \
    "env -u TAV_LIBRARY -u PYTHONPATH -u LD_LIBRARY_PATH '$work/venv/bin/python' -c \
     'import tav; board = tav.open(\"sim:T\"); board.init(); print(board.model)' | grep -qx T"
# The installed package registers its pytest plugin: a test that uses the
# tav_board fixture runs with no -p (Debian's pytest, seen from the venv).
step "a virtual environment that sees Debian's pytest" /usr/bin/python3 -m venv --system-site-packages "$work/venv-pytest"
step "pip installs ./python there" \
    env TAV_WHEEL_LIBRARY="$library" "$work/venv-pytest/bin/pip" install --no-index --quiet "$source_dir/python"
cat >"$work/test_uses_fixture.py" <<'PYTHON'
def test_fixture(tav_board):
    tav_board.sim.unplug()
    tav_board.sim.plug()
    assert tav_board.model == "T"
PYTHON
step "pytest finds the tav_board fixture through the entry point" bash -c \
    "cd '$work' && env -u TAV_LIBRARY -u PYTHONPATH '$work/venv-pytest/bin/python' -m pytest -q -p no:cacheprovider \
     test_uses_fixture.py | grep -q '1 passed'"
step "a wheel without a library to carry is pure where the system has libtav" bash -c \
    "env -u TAV_WHEEL_LIBRARY LD_LIBRARY_PATH='$(dirname "$library")' python3 -c 'import sys; \
     sys.path.insert(0, sys.argv[1]); import build_backend; \
     build_backend.BUILT_LIBRARY = \"/nonexistent\"; print(build_backend.build_wheel(sys.argv[2]))' \
     '$source_dir/python' '$work' | grep -qx 'tav-.*-py3-none-any.whl'"
# A clone with no build and no libtav on the system: pip itself fails, with
# the way out, instead of an install whose import fails later.
mkdir -p "$work/unbuilt"
cp -r "$source_dir/python" "$source_dir/CMakeLists.txt" "$work/unbuilt/"
rm -f "$work/unbuilt/python/tav/libtav.so.1" "$work/unbuilt/python/tav/_install.py"
step "pip refuses a clone with no build, saying how to build it" bash -c \
    "! env -u TAV_WHEEL_LIBRARY -u LD_LIBRARY_PATH '$work/venv/bin/pip' install --no-index '$work/unbuilt/python' \
     >'$work/pip.out' 2>&1 && grep -q 'Build it first' '$work/pip.out' && grep -q 'TAV_WHEEL_LIBRARY' '$work/pip.out'"
step "a library named that is not there is an error" bash -c \
    "TAV_WHEEL_LIBRARY=/nonexistent/libtav.so.1 python3 -c 'import sys; sys.path.insert(0, sys.argv[1]); \
     import build_backend; build_backend.build_wheel(sys.argv[2])' '$source_dir/python' '$work' 2>&1 | \
     grep -q 'names no file: /nonexistent/libtav.so.1'"
finish_steps
