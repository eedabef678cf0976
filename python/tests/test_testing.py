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
    """The README's pytest example, word for word, in a pytest of its own."""
    import os
    import subprocess
    import sys
    import textwrap

    readme = open(os.path.join(os.path.dirname(__file__), "..", "..", "README.md"), encoding="utf-8").read()
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
