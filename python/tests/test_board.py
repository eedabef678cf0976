"""A board object on virtual boards: its lifetime, threads, records and waveforms."""

import os
import subprocess
import sys
import textwrap
import threading

import pytest

import tav


def test_readme_example(view_line):
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


def test_two_boards_in_one_process_from_two_threads(view_line):
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


def test_records_in_words_and_raw_records(view_line):
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


def test_waveform_files_that_cannot_be_written_raise_os_error(tmp_path):
    with tav.open("sim:T") as board:
        missing = tmp_path / "no-such-folder" / "out.vcd"
        with pytest.raises(FileNotFoundError) as caught:
            board.write_vcd(missing)
        assert caught.value.filename == os.fsencode(missing) or str(missing) in str(caught.value)
        with pytest.raises(OSError):
            board.write_svg(tmp_path)  # a folder


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


def test_boards_queue_unless_the_selector_says_sync():
    with tav.open("sim:T") as board:
        assert board.queued
    with tav.open("sync:sim:T") as board:
        assert not board.queued
    with tav.open("queued:reattach:sim:S") as board:
        assert board.queued
    with pytest.raises(tav.InvalidArgumentError, match="sync:"):
        tav.open("sync:queued:sim:T")
    # A listed board says which way a board object would send to it.
    from tav._native import _DeviceStruct
    from tav.watch import _device_of
    assert _device_of(_DeviceStruct(selector=b"usb:001:002", board=1, queued=1)).queued
    assert not _device_of(_DeviceStruct(selector=b"usb:001:002", board=1)).queued
