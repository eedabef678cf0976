"""tav.testing: the pytest plugin, used as the README shows it (the suite
runs with -p tav.testing)."""

import threading
import time

import pytest

import tav


def wait_until(condition, seconds=5.0):
    deadline = time.monotonic() + seconds
    while not condition():
        assert time.monotonic() < deadline, "timed out"
        time.sleep(0.01)


def test_a_program_survives_a_replug(tav_board):
    tav_board.init()
    tav_board.output("P4.8")
    tav_board.set("P4.8")
    tav_board.pwm_start("C", divider=1, duties=[100, 200, 300, 400])
    seen = []
    tav_board.on_connection(seen.append)
    tav_board.sim.unplug()
    wait_until(lambda: seen == [False])
    assert not tav_board.connected
    tav_board.sim.plug()
    wait_until(lambda: tav_board.connected)
    assert seen == [False, True]
    assert tav_board.pin("P4.8").function == "output_high"
    assert [tav_board.pin(name).pwm.duty_counts for name in ("P4.0", "P4.1")] == [200, 100]  # group C, channels 2 and 1


@pytest.mark.tav_model("S")
def test_the_marker_picks_the_model(tav_board):
    assert tav_board.model == "S"


def test_a_fault_meets_the_record_it_names(tav_board):
    tav_board.init()
    tav_board.sim.fail("timeout", after=2)
    tav_board.output("P4.8")  # one record
    with pytest.raises(tav.TavError) as failed:
        tav_board.output("P4.10")
    assert failed.value.code == 4
    tav_board.output("P4.10")  # the next operation goes through
    tav_board.sim.fail("unplug")
    with pytest.raises(tav.TavError):
        tav_board.set("P4.8")
    wait_until(lambda: not tav_board.connected)


def test_faults_and_edges_refuse_bad_input(tav_board):
    with pytest.raises(tav.InvalidArgumentError, match="no fault 'jam'"):
        tav_board.sim.fail("jam")
    with pytest.raises(TypeError):
        tav_board.sim.fail(4)
    for after in (0, 2 ** 31, -1):
        with pytest.raises(ValueError):
            tav_board.sim.fail("stall", after=after)
    with pytest.raises(ValueError):
        tav_board.sim.edges("P4.8,P4.10")


def test_edges_of_a_pin():
    with tav.open("sim:T") as board:
        board.use_virtual_time()
        board.init()
        board.advance(0.001)
        board.output("P4.8")
        board.advance(0.001)
        board.set("P4.8")
        board.advance(0.001)
        board.pwm_start("B", divider=1, duties=["50%"])
        assert board.sim.edges("P4.8") == [(0.001, 0), (0.002, 1)]
        assert board.sim.edges("P8.0") == [(0.003, "pwm")]
        board.sim.unplug()
        board.sim.plug()
        board.advance(0.001)
        assert board.sim.edges("P4.8")[-1][1] is None  # powered anew: floating


def test_a_watch_sees_a_virtual_board_leave_and_come_back():
    with tav.open("sim:T") as board, tav.watch(interval=0.01) as watch:
        first = watch.get(timeout=5)
        assert first is not None and first.device.library == "sim"
        board.sim.unplug()
        assert watch.get(timeout=5).kind == "left"
        board.sim.plug()
        assert watch.get(timeout=5).kind == "arrived"


def test_closing_from_the_connection_callback():
    board = tav.open("reattach:sim:T")
    closed = threading.Event()

    def on_connection(up):
        board.close()
        closed.set()

    board.on_connection(on_connection)
    board.sim.unplug()
    assert closed.wait(5)
    assert board.closed


def test_two_threads_closing_one_board():
    for _ in range(20):
        board = tav.open("reattach:sim:T")
        threads = [threading.Thread(target=board.close), threading.Thread(target=board.release)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
        assert board.closed


def test_a_real_board_has_no_sim():
    # No real board here: the emulated one is tested in test_tav.py; a
    # virtual board's sim works, and NotVirtualError is its refusal elsewhere.
    assert issubclass(tav.NotVirtualError, tav.TavError)


def test_the_readme_example_passes(tmp_path):
    """The testing guide's pytest example, word for word, in a pytest of its own."""
    import os
    import subprocess
    import sys
    import textwrap

    readme = open(os.path.join(os.path.dirname(__file__), "..", "..", "docs", "guides", "testing.md"),
                  encoding="utf-8").read()
    start = readme.index("installed package registers it by itself):\n\n") + len("installed package registers it by itself):\n\n")
    block = readme[start:readme.index("\n\nFaults are", start)]
    (tmp_path / "test_readme.py").write_text(textwrap.dedent(block))
    result = subprocess.run([sys.executable, "-m", "pytest", "-q", "-p", "no:cacheprovider", "-p", "tav.testing",
                             str(tmp_path / "test_readme.py")], capture_output=True, text=True, timeout=120)
    assert "2 passed" in result.stdout, result.stdout + result.stderr


def test_a_stopped_watch_answers_every_later_get():
    watch = tav.watch(interval=0.01)
    watch.stop()
    results = []
    reader = threading.Thread(target=lambda: results.extend([watch.get(), watch.get(), list(watch)]))
    reader.start()
    reader.join(5)
    assert not reader.is_alive(), "a get() after stop() blocks"
    assert results == [None, None, []]


# ---- PWM and pins for what people drive ----------------------------------

def test_a_servo_a_motor_a_relay_and_a_button(view_line):
    with tav.open("sim:T") as board:
        board.init()
        reached = board.pwm_start("B", hz=50, duties=["7.5%"])  # a servo on P8.0
        assert abs(reached - 50) / 50 < 0.001
        board.pwm_pulse("B", 1, us=2000)
        assert board.pin("P8.0").pwm.duty_counts == round(2000 * 72 / 22)
        board.pwm_set("B", 2, "50%")
        assert board.pin("P8.1").pwm.duty_counts == 32728  # of 65455
        board.pwm_set("B", 3, 65455)  # counts of this group's full scale
        assert board.pin("P8.2").pwm.duty_percent == 100
        assert board.pwm_start("C", hz=20000, duties=[1800, "25%"]) == 20000  # a motor, counts of 3600
        assert board.pin("P4.1").pwm.duty_counts == 1800 and board.pin("P4.0").pwm.duty_counts == 900
        board.output("P4.8", drive="open-drain")  # a relay
        board.set("P4.8")
        assert "open-drain" in view_line(board, "P4.8")
        board.input("P4.9", pull="up")  # a button to ground
        assert board.pin("P4.9").function == "pull_up_input"
        board.input("P4.10", pull="down")
        assert board.pin("P4.10").function == "pull_down_input"
        board.pwm_stop("B")  # C runs on
        assert board.pin("P8.0").function == "floating_input" and board.pin("P4.1").function == "pwm"
        board.pwm_stop()
        assert board.pin("P4.1").function == "floating_input"


def test_pwm_and_pin_arguments_are_checked():
    with tav.open("sim:T") as board:
        board.init()
        for hz in (0, -1, 0.01, 720001, float("nan"), float("inf")):
            with pytest.raises(ValueError, match="no PWM at"):
                board.pwm_start("A", hz=hz)
        with pytest.raises(TypeError):
            board.pwm_start("A", hz="50")
        with pytest.raises(ValueError, match="not both"):
            board.pwm_start("A", divider=2, hz=50)
        with pytest.raises(ValueError, match="above full scale"):
            board.pwm_start("C", hz=20000, duties=[3601])
        for duty in ("101%", "7,5%", "%", "-5%"):
            with pytest.raises(ValueError):
                board.pwm_start("B", hz=50, duties=[duty])
        with pytest.raises(tav.TavError):
            board.pwm_pulse("A", 1, us=1500)  # group A is not running
        board.pwm_start("A", hz=50)
        with pytest.raises(tav.TavError):
            board.pwm_pulse("A", 1, us=20001)  # longer than the period
        with pytest.raises(TypeError):
            board.pwm_pulse("A", 1, us="1500")
        with pytest.raises(ValueError, match="'sideways'"):
            board.input("P4.8", pull="sideways")
        with pytest.raises(ValueError, match="'totem'"):
            board.output("P4.8", drive="totem")
        with pytest.raises(TypeError):
            board.input("P4.8", pull=1)
        with pytest.raises(tav.TavError):
            board.pwm_stop("D")
        assert board.pin("P4.8").function == "floating_input"  # nothing was sent


def test_the_servo_waveform_decodes_at_50_hz(tmp_path):
    import shutil
    import subprocess
    if shutil.which("sigrok-cli") is None:
        pytest.skip("sigrok-cli is not installed")
    with tav.open("sim:T") as board:
        board.use_virtual_time()
        board.init()
        board.pwm_start("B", hz=50, duties=["7.5%"])
        board.advance(0.5)
        board.write_vcd(tmp_path / "servo.vcd")
    decoded = subprocess.run(["sigrok-cli", "-i", str(tmp_path / "servo.vcd"), "-P", "pwm:data=P8_0_PA0",
                              "-A", "pwm=duty-cycle"], capture_output=True, text=True, timeout=60)
    duties = [line for line in decoded.stdout.splitlines() if line.strip()]
    assert duties and all(line.strip().startswith("pwm-1: 7.5") or "7.49" in line for line in duties[1:-1]), \
        decoded.stdout[:400] + decoded.stderr
    period = subprocess.run(["sigrok-cli", "-i", str(tmp_path / "servo.vcd"), "-P", "pwm:data=P8_0_PA0",
                             "-A", "pwm=period"], capture_output=True, text=True, timeout=60)
    assert "20 ms" in period.stdout or "20.0 ms" in period.stdout, period.stdout[:400] + period.stderr


def test_the_readme_servo_example_runs():
    """The guide's servo, motor, relay and button example, word for word."""
    import os

    readme = open(os.path.join(os.path.dirname(__file__), "..", "..", "docs", "guides", "pwm-and-pins.md"),
                  encoding="utf-8").read()
    start = readme.index("# Servos, motors, relays and buttons")
    block = readme[readme.index("    with tav.open", start):readme.index("\nThe same from tavctl", start)]
    namespace = {"tav": tav}
    exec("\n".join(line[4:] for line in block.splitlines()), namespace)  # noqa: S102 - the README's own code
    board = namespace["board"]
    assert board.closed


def test_a_logging_handler_may_call_the_library():
    """The library's log reaches logging with no lock of the library held: a
    handler that lists boards and asks the very board whose call logged does
    not hang."""
    import logging

    asked = []
    target = []

    class Asking(logging.Handler):
        def emit(self, record):
            if target and not asked:
                asked.append(tav.list_boards())
                asked.append(target[0].firmware)

    handler = Asking(level=logging.DEBUG)
    logger = logging.getLogger("tav")
    logger.addHandler(handler)
    previous = logger.level
    logger.setLevel(logging.DEBUG)
    done = threading.Event()

    def failing_call():
        try:
            with tav.open("sim:T") as board:
                target.append(board)
                board.sim.fail("timeout")
                with pytest.raises(tav.TavError):
                    board.output("P4.8")  # the time-out is logged while the board's lock is held
        finally:
            done.set()

    try:
        worker = threading.Thread(target=failing_call, daemon=True)
        worker.start()
        assert done.wait(10), "a handler that calls the library hung"
    finally:
        logger.removeHandler(handler)
        logger.setLevel(previous)
    assert len(asked) == 2 and asked[1] == "1.0.0.0", asked
