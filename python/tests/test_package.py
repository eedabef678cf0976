"""The package itself: where it finds libtav, python -m tav, pip, and once the real
libusb path against a board that umockdev emulates."""

import os
import subprocess
import sys
import textwrap

import pytest

import tav


EMULATED_RUN = os.environ.get("TAV_EMULATED_RUN")


@pytest.mark.parametrize("platform, name", [("win32", "tav.dll"), ("cygwin", "tav.dll"), ("linux", "libtav.so.1")])
def test_the_library_is_looked_for_by_its_platform_name(platform, name):
    candidates = tav._native._library_candidates(platform, {"TAV_LIBRARY": "/opt/x/tav-copy"})
    assert candidates[0] == "/opt/x/tav-copy"
    here = os.path.dirname(os.path.abspath(tav.__file__))
    assert candidates[1] == os.path.join(here, name)
    assert name in candidates[2:]  # the system's (or Windows' DLL) search path
    other = "libtav.so.1" if name == "tav.dll" else "tav.dll"
    assert not any(os.path.basename(candidate) == other for candidate in candidates)
    assert tav._native._library_candidates(platform, {})[0] == os.path.join(here, name)


def test_python_dash_m_tav_helps_and_survives_a_closed_pipe():
    environment = dict(os.environ, PYTHONPATH=os.path.dirname(os.path.dirname(os.path.abspath(tav.__file__))))
    shown = subprocess.run([sys.executable, "-m", "tav", "--help"], env=environment, capture_output=True, text=True,
                           timeout=60)
    assert shown.returncode == 0 and "usage: python3 -m tav" in shown.stdout and "sim:T" in shown.stdout
    viewed = subprocess.run([sys.executable, "-m", "tav", "queued:sim:C"], env=environment, capture_output=True,
                            text=True, timeout=60)
    assert viewed.returncode == 0 and "model: C" in viewed.stdout and "P4.0" in viewed.stdout, viewed
    reader_gone = subprocess.Popen([sys.executable, "-m", "tav", "sim:S"], env=environment, stdout=subprocess.PIPE,
                                   stderr=subprocess.PIPE)
    reader_gone.stdout.close()  # as `| head` does once it has read enough
    errors = reader_gone.stderr.read().decode()
    assert reader_gone.wait(timeout=60) == 0 and errors == "", errors


@pytest.mark.skipif(not os.path.exists(os.path.join(os.path.dirname(__file__), "..", "pyproject.toml")),
                    reason="not in a clone")
def test_pip_installs_the_package_offline(tmp_path):
    """pip install ./python into a virtual environment with nothing from the
    network; the installed package finds libtav through TAV_LIBRARY."""
    source = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
    subprocess.run([sys.executable, "-m", "venv", str(tmp_path / "venv")], check=True, timeout=120,
                   capture_output=True)
    python = str(tmp_path / "venv" / "bin" / "python")
    for editable in ([], ["-e"]):
        installed = subprocess.run([python, "-m", "pip", "install", "--no-index", "--no-cache-dir", "-q", *editable,
                                    source], capture_output=True, text=True, timeout=120,
                                   env=dict(os.environ, PIP_DISABLE_PIP_VERSION_CHECK="1"))
        assert installed.returncode == 0, installed.stderr
        used = subprocess.run([python, "-c", "import tav, os; print(tav.__file__); print(tav.open('sim:C').model); "
                               "print(os.path.exists(os.path.join(os.path.dirname(tav.__file__), 'py.typed')))"],
                              capture_output=True, text=True, timeout=60, cwd=str(tmp_path),
                              env={"TAV_LIBRARY": os.environ.get("TAV_LIBRARY", ""), "PATH": os.environ["PATH"]})
        assert used.returncode == 0, used.stderr
        where, model, typed = used.stdout.split()
        assert model == "C" and typed == "True"
        assert where.startswith(str(tmp_path)) != bool(editable)  # the editable one runs from the clone


@pytest.mark.skipif(not EMULATED_RUN, reason="TAV_EMULATED_RUN (the umockdev-emulated board runner) not given")
@pytest.mark.parametrize("selector", ["usb:001:002", "queued:usb:001:002"])
@pytest.mark.parametrize("leave, expected_p48", [("pass", "floating input"), ("board.release()", "output high")])
def test_real_libusb_path_against_an_emulated_board(tmp_path, leave, expected_p48, selector):
    script = textwrap.dedent(f"""
        import logging
        import tav
        heard = []
        class Keep(logging.Handler):
            def emit(self, record):
                heard.append((record.levelname, record.getMessage()))
        logging.getLogger("tav").addHandler(Keep())
        logging.getLogger("tav").setLevel(logging.DEBUG)
        listed = [(d.selector, d.port, d.board, d.openable, d.model) for d in tav.list_boards()]
        assert listed == [("usb:001:002", "1-2", True, True, "S")], listed
        with tav.watch(interval=0.01) as watching:
            event = watching.get(timeout=5)
            assert (event.kind, event.initial, event.device.selector, event.device.port) == (
                "arrived", True, "usb:001:002", "1-2"), event
        assert list(watching) == []  # stopped: the iteration ends
        with tav.open("{selector}") as board:
            assert board.model == "S", board.model
            try:
                tav.open("port:1-2")
                raise SystemExit("opened twice")
            except tav.AccessError as error:
                assert "usb:001:002 (libusb" in str(error) and "is in use by another program" in str(error), str(error)
            try:
                tav.open("usb:9:99")
                raise SystemExit("found usb:9:99")
            except tav.NotFoundError:
                pass  # not the earlier open's problem
            assert any(level == "WARNING" and "cannot claim interface 0 of usb:001:002" in text
                       for level, text in heard), heard
            board.init()
            board.output("P4.8")
            board.set("P4.8")
            board.pwm_start("B", duties=["50%"])
            try:
                board.status()
                raise SystemExit("status() worked on a real board")
            except tav.NotVirtualError:
                pass
            {leave}
        # A board dropped without close() is let go: the next open claims it.
        dropped = tav.open("{selector}")
        del dropped
        again = tav.open("{selector}")
        again.release()
        print("done")
    """)
    view = tmp_path / "view.txt"
    environment = dict(os.environ, PYTHONPATH=os.path.dirname(os.path.dirname(os.path.abspath(tav.__file__))))
    finished = subprocess.run([EMULATED_RUN, "--model", "S", "--view", str(view), "--", sys.executable, "-c", script],
                              env=environment, capture_output=True, text=True, timeout=60)
    assert finished.returncode == 0, finished.stderr
    assert "done" in finished.stdout
    lines = {line.split()[0]: line for line in view.read_text().splitlines() if line.startswith("  P")}
    assert expected_p48 in lines["P4.8"]
    # Closing floats the PWM pin too; releasing leaves it running.
    assert ("floating input" if leave == "pass" else "PWM TIM2 CH1") in lines["P4.13"]  # PA0 on model S
