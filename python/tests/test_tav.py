"""The Python package against virtual boards, and once through the real
libusb path against a board that umockdev emulates."""

import os
import subprocess
import sys
import textwrap
import threading

import pytest

import tav


def view_line(board, pin):
    """The board view's line of one pin, e.g. 'P4.8   0x40000100  PB8   output high'."""
    for line in board.status().splitlines():
        if line.split()[:1] == [pin]:
            return line
    raise AssertionError(f"{pin} not in the board view")


def test_readme_example():
    with tav.open("sim:T") as board:
        board.init()
        board.output("P4.8", "P4.10")
        board.set("P4.8")
        board.pwm_start("B", divider=2, duties=["25%", 0, 9000])
        board.pwm_set("B", 1, "50%")
        assert (board.model, board.firmware) == ("T", "1.0.0.0")
        assert "PB8   output high" in view_line(board, "P4.8")
        assert "PB10  output low" in view_line(board, "P4.10")
        assert "PWM TIM2 CH1, 1000 Hz, duty 18000/36000 (50.00%)" in view_line(board, "P8.0")
        assert "duty 0/36000" in view_line(board, "P8.1")
        assert "duty 9000/36000 (25.00%)" in view_line(board, "P8.2")
        assert "duty 0/36000" in view_line(board, "P8.3")  # missing duties are 0
    assert board.closed


def test_pin_names_ranges_lists_and_identifiers():
    assert tav.parse_pins("P4.0-3") == [0x4000000F]
    assert tav.parse_pins("P8.16,P4.1,p8.0") == [0x80010001, 0x40000002]
    assert tav.parse_pins(0x40000005) == [0x40000005]
    assert tav.parse_pins("1073741825") == [0x40000001]  # decimal, never octal
    with tav.open("sim:S") as board:
        board.init()  # P4.0 and P4.1 are debug-port pins on model S
        board.output("P4.0-1", 0x80000001)
        board.write("P4.0-1", True)
        assert "PA13  output high" in view_line(board, "P4.0")
        assert "PA14  output high" in view_line(board, "P4.1")
        assert "PA10  output low" in view_line(board, "P8.0")
        board.reset("P4.1")
        board.float("P4.0")
        assert "floating input" in view_line(board, "P4.0")
        assert "output low" in view_line(board, "P4.1")


@pytest.mark.parametrize("pins, words", [
    ("P4.16", "pin P4.16 does not exist"),
    ("Q1", "unknown pin name 'Q1'"),
    ("P4.3-1", "runs backwards"),
    ("40000001", "did you mean 0x40000001?"),
    ("0x40000000", "names no pin"),
    ("", "no pins given"),
    ("P4.8\0junk", "NUL"),
    ("P4.\udc80", "not valid text"),
    (2 ** 32, "not from 0 to 4294967295"),
])
def test_bad_pins_are_refused_with_their_reason(pins, words):
    with pytest.raises(tav.InvalidArgumentError) as caught:
        tav.parse_pins(pins)
    assert words in caught.value.message
    assert caught.value.code == -1
    assert isinstance(caught.value, ValueError)


def test_percent_and_count_duties():
    with tav.open("sim:T") as board:
        board.pwm_start("c", divider=128, duties=["12.5%", "100%", 1, "36000"])
        assert "15.625 Hz, duty 4500/36000" in view_line(board, "P4.1")
        assert "duty 36000/36000 (100.00%)" in view_line(board, "P4.0")
        for bad in ["101%", "x%", -1, 36001, "1e3", "1e1%", " 5%", "+5%"]:
            with pytest.raises(tav.InvalidArgumentError):
                board.pwm_set("C", 1, bad)
        for wrong_type in [2.5, None, True, b"50%"]:
            with pytest.raises(TypeError):
                board.pwm_set("C", 1, wrong_type)
        assert "duty 4500/36000" in view_line(board, "P4.1")  # nothing was sent


def test_refused_pwm_arguments_name_the_library_reason():
    with tav.open("sim:T") as board:
        for call in [lambda: board.pwm_start("D"), lambda: board.pwm_start("A", divider=3),
                     lambda: board.pwm_start("A", duties=[1, 2, 3, 4]), lambda: board.pwm_set("A", 4, 0),
                     lambda: board.pwm_set("AB", 1, 0)]:
            with pytest.raises(tav.InvalidArgumentError) as caught:
                call()
            assert caught.value.code == -1


def test_errors_carry_code_and_library_words():
    with pytest.raises(tav.InvalidArgumentError) as caught:
        tav.open("sim:X")
    assert caught.value.code == -1
    with pytest.raises(tav.NotFoundError) as caught:
        tav.open("usb:250:250")
    assert caught.value.code == -2 and "no board matches the selector" in str(caught.value)
    assert issubclass(tav.AccessError, tav.TavError)
    with tav.open("sim:T") as board:
        with pytest.raises(tav.TavError) as caught:
            board.set(0x80020000)  # bit 17 of bank 8: no such pin on any model
        assert caught.value.code == 64
    with pytest.raises(tav.TavError, match="closed"):
        board.set("P4.0")
    assert tav.version().count(".") == 2


def test_two_boards_in_one_process_from_two_threads():
    first, second = tav.open("sim:T"), tav.open("sim:S")
    try:
        def blink(board, pin):
            board.output(pin)
            for round_number in range(100):
                board.write(pin, round_number % 2)

        threads = [threading.Thread(target=blink, args=(first, "P4.8")),
                   threading.Thread(target=blink, args=(first, "P4.9")),
                   threading.Thread(target=first.pwm_start, args=("A", 1, [1, 2, 3]))]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
        assert "output high" in view_line(first, "P4.8") and "output high" in view_line(first, "P4.9")
        assert second.model == "S"
        assert "PB8   floating input" in view_line(second, "P4.8")  # the other board saw nothing
        assert "PA10  floating input" in view_line(second, "P8.0")
    finally:
        first.close()
        second.close()


def test_records_in_words_and_raw_records():
    record = bytes([26, 8, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0x20])
    assert tav.describe_record(record.ljust(64, b"\0")) == "GPIO_SetBits(GPIOB, pin 5)"
    with tav.open("sim:T") as board:
        board.output("P4.5")
        board.send_record(record)
        assert "output high" in view_line(board, "P4.5")
        with pytest.raises(tav.InvalidArgumentError):
            board.send_record(bytes(65))


def test_a_short_record_goes_out_as_64_bytes_with_zeros(tmp_path):
    # Whatever lies beyond the caller's bytes in memory must never be sent.
    log = tmp_path / "short.tavtrace"
    script = textwrap.dedent("""
        import tav
        neighbours = [bytes([255] * 13) for _ in range(2000)]
        del neighbours[::2]
        with tav.open("sim:T") as board:
            for _ in range(20):
                board.send_record(bytes([26, 8, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0x20]))
    """)
    finished = subprocess.run([sys.executable, "-c", script], env=dict(os.environ, TAV_TRACE=str(log)),
                              capture_output=True, text=True, timeout=60)
    assert finished.returncode == 0, finished.stderr
    sent = [line.split()[2] for line in log.read_text().splitlines() if " out 1a08" in line]
    assert len(sent) == 20 and all(record == "1a080000000000000100000020" + "00" * 51 for record in sent), sent


def test_waveforms_in_virtual_time(tmp_path):
    with tav.open("sim:T") as board:
        board.use_virtual_time()
        board.output("P4.8")
        board.advance(0.001)
        board.set("P4.8")
        board.advance(0.002)
        board.write_vcd(tmp_path / "out.vcd")
        board.write_svg(str(tmp_path / "out.svg"))
        with pytest.raises(tav.InvalidArgumentError):
            board.advance(-1)
    vcd = (tmp_path / "out.vcd").read_text()
    assert "$var wire 1 ) P4_8_PB8 $end" in vcd
    assert "#1000000\n1)" in vcd
    assert (tmp_path / "out.svg").read_text().count('class="pin"') == 1


EMULATED_RUN = os.environ.get("TAV_EMULATED_RUN")


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


@pytest.mark.parametrize("platform, name", [("win32", "tav.dll"), ("cygwin", "tav.dll"), ("linux", "libtav.so.1")])
def test_the_library_is_looked_for_by_its_platform_name(platform, name):
    candidates = tav._library_candidates(platform, {"TAV_LIBRARY": "/opt/x/tav-copy"})
    assert candidates[0] == "/opt/x/tav-copy"
    here = os.path.dirname(os.path.abspath(tav.__file__))
    assert candidates[1] == os.path.join(here, name)
    assert name in candidates[2:]  # the system's (or Windows' DLL) search path
    other = "libtav.so.1" if name == "tav.dll" else "tav.dll"
    assert not any(os.path.basename(candidate) == other for candidate in candidates)
    assert tav._library_candidates(platform, {})[0] == os.path.join(here, name)


def test_wrong_types_raise_type_error_and_bad_values_invalid_argument():
    """Never a bare ctypes ArgumentError, OverflowError or UnicodeEncodeError,
    and nothing wraps around on its way to C."""
    with tav.open("sim:T") as board:
        before = board.status()
        for call in [lambda: board.init(2 ** 32), lambda: board.init(-1),
                     lambda: board.pwm_start("B", 2 ** 32 + 2), lambda: board.pwm_set("B", 2 ** 32 + 1, "50%"),
                     lambda: board.pwm_start("B", 3), lambda: board.advance(1e300), lambda: board.advance(-1),
                     lambda: board.pwm_set("B", 1, 2 ** 32 + 5), lambda: board.pwm_start("B", 2, [2 ** 32 + 5]),
                     lambda: board.advance(float("nan")), lambda: board.output("P4.8\0junk"),
                     lambda: board.output("P\ud800"), lambda: tav.open("sim:T\0junk"),
                     lambda: board.write_vcd("out\0.vcd")]:
            with pytest.raises(tav.InvalidArgumentError):
                call()
        for call in [lambda: board.pwm_start("B", divider=2.0), lambda: board.pwm_start("B", 2, "1234"),
                     lambda: board.pwm_start("B", 2, 1234), lambda: board.pwm_start(2), lambda: board.init("7"),
                     lambda: board.init(True), lambda: board.advance("1"), lambda: board.output(1.5),
                     lambda: board.output(None), lambda: board.pwm_set("B", 1.0, 0), lambda: tav.open(b"sim:T"),
                     lambda: board.send_record("text"), lambda: tav.describe_record(None)]:
            with pytest.raises(TypeError):
                call()
        assert board.status() == before  # nothing was sent


def test_write_takes_levels_as_tavctl_does():
    with tav.open("sim:T") as board:
        board.output("P4.8")
        for level, seen in [("high", "output high"), ("low", "output low"), (True, "output high"), (0, "output low"),
                            ("on", "output high"), ("off", "output low"), (1, "output high"), ("0", "output low")]:
            board.write("P4.8", level)
            assert seen in view_line(board, "P4.8"), level
        for bad in ["LOW", "yes", 2, -1, ""]:
            with pytest.raises(tav.InvalidArgumentError):
                board.write("P4.8", bad)
        for wrong_type in [None, 1.0, [1]]:
            with pytest.raises(TypeError):
                board.write("P4.8", wrong_type)
        assert "output low" in view_line(board, "P4.8")


def test_waveform_files_that_cannot_be_written_raise_os_error(tmp_path):
    with tav.open("sim:T") as board:
        missing = tmp_path / "no-such-folder" / "out.vcd"
        with pytest.raises(FileNotFoundError) as caught:
            board.write_vcd(missing)
        assert caught.value.filename == os.fsencode(missing) or str(missing) in str(caught.value)
        with pytest.raises(OSError):
            board.write_svg(tmp_path)  # a folder


def test_percent_duties_round_as_tavctl_does():
    with tav.open("sim:T") as board:
        for duty, counts in [("33.3333%", 12000), ("0.0014%", 1), ("0.0013%", 0), ("99.9999%", 36000),
                             ("12.5%", 4500), ("0x2328", 9000)]:
            board.pwm_start("B", 1, [duty])
            assert board.pin("P8.0").pwm.duty_counts == counts, duty


def test_toggle_and_the_state_as_data():
    with tav.open("sim:T") as board:
        board.output("P4.8")
        board.set("P4.8")
        board.toggle("P4.8", "P4.8")  # twice: back to high
        assert board.pin("P4.8").level == 1
        board.toggle("P4.8")
        state = board.pin("P4.8")
        assert (state.name, state.identifier, state.mcu_pin, state.function, state.known, state.level) == \
            ("P4.8", 0x40000100, "PB8", "output_low", True, 0)
        with pytest.raises(tav.InvalidArgumentError, match="not an output"):
            board.toggle("P4.9")
        board.pwm_start("B", 2, ["25%"])
        pwm = board.pin("P8.0").pwm
        assert (pwm.group, pwm.timer_channel, pwm.duty_counts, pwm.frequency_hz) == ("B", 1, 9000, 1000.0)
        board.pwm_start("A", 1, [1000, 2000, 3000])
        pwm = board.pin("P8.10").pwm  # PA10: TIM1_CH3 drives group A's channel 1
        assert (pwm.group, pwm.timer_channel, pwm.channel, pwm.duty_counts) == ("A", 3, 1, 1000)
        everything = board.pins()
        assert len(everything) == 33 and everything[0].name == "P4.0" and everything[-1].name == "P8.16"
        assert [pin.description for pin in everything if pin.name == "P4.8"] == [state.description]
        with pytest.raises(tav.InvalidArgumentError):
            board.pin("P4.0-1")


def test_closing_under_running_calls_never_crashes():
    """close() while other threads are inside calls on the same board waits
    for them; their later calls raise TavError."""
    for round_number in range(20):
        board = tav.open("sim:T")
        board.output("P4.0-15")
        problems = []
        started = threading.Barrier(5)

        def hammer():
            started.wait()
            try:
                while True:
                    board.set("P4.0-15")
                    board.pwm_set("C", 1, "50%") if round_number % 2 else board.firmware
            except tav.TavError as error:
                if "closed" not in str(error):
                    problems.append(error)
            except Exception as error:  # noqa: BLE001
                problems.append(error)

        threads = [threading.Thread(target=hammer) for _ in range(4)]
        for thread in threads:
            thread.start()
        started.wait()
        board.close() if round_number % 2 else board.release()
        for thread in threads:
            thread.join(timeout=30)
        assert not any(thread.is_alive() for thread in threads)
        assert problems == [] or all(isinstance(problem, tav.TavError) and problem.code == -1 for problem in problems), \
            problems
        with pytest.raises(tav.TavError, match="the board is closed"):
            board.set("P4.0")


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


def test_connected_and_the_connection_callback():
    heard = []
    with tav.open("reattach:sim:T") as board:  # a virtual board never leaves: it only says so
        assert board.connected
        board.on_connection(heard.append)
        with pytest.raises(TypeError):
            board.on_connection("not callable")
        board.init()
    assert not board.connected
    assert heard == []
    with pytest.raises(tav.InvalidArgumentError):
        tav.open("reattach:reattach:sim:T")


def test_the_duty_unit_is_in_the_help():
    for method in (tav.Board.pwm_start, tav.Board.pwm_set):
        assert "25 counts = 0.07 %" in method.__doc__ and "counts of 36000" in method.__doc__, method.__doc__


def test_refusals_carry_the_library_reason():
    with tav.open("sim:T") as board:
        with pytest.raises(tav.InvalidArgumentError, match="divider 3 is not one of 1, 2, 4, 8, 16, 32, 64, 128"):
            board.pwm_start("B", 3)
    with pytest.raises(tav.InvalidArgumentError, match="'sim:X' is not a board selector: .*sim:T, sim:S, sim:C"):
        tav.open("sim:X")


def test_messages_quote_huge_inputs_short():
    with tav.open("sim:T") as board:
        for call in [lambda: tav.open("x" * 1_000_000 + "\0"), lambda: board.output("P4.8" * 250_000 + "\ud800"),
                     lambda: board.init(2 ** 100_000), lambda: board.pwm_set("B", 1, -(2 ** 100_000)),
                     lambda: board.write("P4.8", "high" * 250_000), lambda: board.output("P4.99" * 200_000)]:
            with pytest.raises(tav.InvalidArgumentError) as raised:
                call()
            assert len(str(raised.value)) < 300, str(raised.value)[:300]


def test_negative_duties_and_group_lists_are_named_as_such():
    with tav.open("sim:T") as board:
        with pytest.raises(tav.InvalidArgumentError, match="duty -1 is negative"):
            board.pwm_set("B", 1, -1)
        with pytest.raises(TypeError, match="a PWM group is a letter, not list"):
            board.pwm_start(["B"])


def test_the_package_takes_the_headers_constants_from_the_library():
    """Every number tav.h defines is the library's to give (bindings cannot
    read the header), and the package's own uses match it."""
    import ctypes
    import re
    header = os.path.join(os.path.dirname(__file__), "..", "..", "include", "tav", "tav.h")
    with open(header, encoding="utf-8") as text:
        source = text.read()
    defined = dict(re.findall(r"^#define (TAV_[A-Z0-9_]+)\s+\(?(-?(?:0x[0-9A-Fa-f]+|\d+))u?\)?", source, re.M))
    defined.update(re.findall(r"^\s+(TAV_PIN_[A-Z_]+) = (\d+)", source, re.M))
    assert "TAV_E_NOT_VIRTUAL" in defined and "TAV_PIN_NOT_DRIVEN" in defined and len(defined) > 25
    for name, literal in defined.items():
        value = ctypes.c_long()
        assert tav._lib.tav_constant(name.encode(), ctypes.byref(value)) == 0, name
        assert value.value == int(literal, 0), name
    assert tav.PWM_DIVIDERS == (1, 2, 4, 8, 16, 32, 64, 128)
    with tav.open("sim:T") as board:
        with pytest.raises(tav.InvalidArgumentError, match="not from 1 to 128"):
            board.pwm_start("A", 256)


def test_a_pin_call_that_fails_says_so_every_time():
    """The first call of a pin parses it; later ones go straight to the
    library: a failure is raised on either path, with the library's words."""
    with tav.open("sim:C") as board:  # model C maps no pin
        for pin in ("P4.8", "P4.8", 0x40000100, 0x40000100):
            for call in (board.set, board.reset):
                with pytest.raises(tav.TavError, match="no mapping") as failed:
                    call(pin)
                assert failed.value.code == 64


def test_a_bad_tav_device_is_named_as_the_cause(monkeypatch):
    monkeypatch.setenv("TAV_DEVICE", "sim:Q")
    for selector in ("", "queued:", "reattach:"):
        with pytest.raises(tav.InvalidArgumentError, match=r"^TAV_DEVICE='sim:Q' is not a board selector: unknown model "
                                                           r"'Q' \(virtual boards: sim:T, sim:S, sim:C\)$"):
            tav.open(selector)
    # The program's own selector wins over TAV_DEVICE, good or bad.
    with tav.open("sim:S") as board:
        assert board.model == "S"
    monkeypatch.setenv("TAV_DEVICE", "sim:C")
    with tav.open() as board:
        assert board.model == "C"


def test_what_tavctl_warns_of_goes_to_the_tav_logger(caplog):
    caplog.set_level("WARNING", logger="tav")
    with tav.open("sim:T") as board:
        board.set("P4.8")
        board.output("P4.8")
        board.set("P4.8")
        board.write("P4.8,P4.9", 1)
        board.input("P4.8")
        board.reset("P4.8")
        board.pwm_start("B", 1, [25, 0])
        board.pwm_start("B", 1, [25, 200])
        board.pwm_set("B", 1, "25%")
        board.pwm_set("B", 2, 50)
    with tav.open("sim:S") as board:
        board.reset("P4.0")
    said = [(record.levelname, record.getMessage()) for record in caplog.records if record.name == "tav"]
    assert said == [
        ("WARNING", "P4.8 (PB8) is a floating input, so the level is only stored, not driven: call output('P4.8') first"),
        ("WARNING", "P4.9 (PB9) is a floating input, so the level is only stored, not driven: call output('P4.9') first"),
        ("WARNING", "P4.8 (PB8) is a floating input, so the level is only stored, not driven: call output('P4.8') first"),
        ("WARNING", "25 counts = 0.07 %; write '25%' for a percentage"),
        ("WARNING", "50 counts = 0.14 %; write '50%' for a percentage"),
        ("WARNING", "P4.0 (PA13) is held by the debug port, so this takes no effect on the pin: call init() first"),
    ]


def test_why_nothing_was_found_is_in_the_error(monkeypatch):
    """Where the library knows why no board was found (on Windows: no USB
    library, or one of the other architecture), the exception says it; the
    C calls are stubbed, as this machine has every USB library."""
    problem = b"no USB library found: neither libusb0.dll (libusb-win32) nor libusb-1.0.dll is installed"

    def not_found(_text, _handle):
        return tav._constant("TAV_E_NOT_FOUND")

    monkeypatch.setattr(tav._lib, "tav_open", not_found)
    monkeypatch.setattr(tav._lib, "tav_open_problem", lambda: problem)
    with pytest.raises(tav.NotFoundError) as raised:
        tav.open("usb:1:5")
    assert str(raised.value.message) == ("cannot open 'usb:1:5': no board matches the selector: no USB library found: "
                                         "neither libusb0.dll (libusb-win32) nor libusb-1.0.dll is installed")
    monkeypatch.setattr(tav._lib, "tav_open_problem", lambda: None)
    with pytest.raises(tav.NotFoundError, match=r"^cannot open 'usb:1:5': no board matches the selector$"):
        tav.open("usb:1:5")
