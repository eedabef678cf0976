"""Pins by name, range, list and identifier; levels; the state of a pin as data."""

import pytest

import tav


def test_pin_names_ranges_lists_and_identifiers(view_line):
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


def test_write_takes_levels_as_tavctl_does(view_line):
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


def test_a_pin_call_that_fails_says_so_every_time():
    """The first call of a pin parses it; later ones go straight to the
    library: a failure is raised on either path, with the library's words."""
    with tav.open("sim:C") as board:  # model C maps no pin
        for pin in ("P4.8", "P4.8", 0x40000100, 0x40000100):
            for call in (board.set, board.reset):
                with pytest.raises(tav.TavError, match="no mapping") as failed:
                    call(pin)
                assert failed.value.code == 64


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
        board.pwm_set("B", 2, 100)  # the most counts still read as a percentage
        board.pwm_set("B", 2, 101)
        board.pwm_set("B", 2, "101")
    with tav.open("sim:S") as board:
        board.reset("P4.0")
    said = [(record.levelname, record.getMessage()) for record in caplog.records if record.name == "tav"]
    assert said == [
        ("WARNING", "P4.8 (PB8) is a floating input, so the level is only stored, not driven: call output('P4.8') first"),
        ("WARNING", "P4.9 (PB9) is a floating input, so the level is only stored, not driven: call output('P4.9') first"),
        ("WARNING", "P4.8 (PB8) is a floating input, so the level is only stored, not driven: call output('P4.8') first"),
        ("WARNING", "25 counts = 0.07 %; write '25%' for a percentage"),
        ("WARNING", "50 counts = 0.14 %; write '50%' for a percentage"),
        ("WARNING", "100 counts = 0.28 %; write '100%' for a percentage"),
        ("WARNING", "P4.0 (PA13) is held by the debug port, so this takes no effect on the pin: call init() first"),
    ]


def test_every_board_pin_and_level_word_comes_from_the_library(monkeypatch):
    with tav.open("sim:S") as board:
        states = board.pins()
        assert [state.name for state in states] == [f"P4.{bit}" for bit in range(16)] + [f"P8.{bit}" for bit in range(17)]
        assert [state.identifier for state in states] == [0x40000000 | 1 << bit for bit in range(16)] + [
            0x80000000 | 1 << bit for bit in range(17)]
        board.init()
        board.output("P4.0")
        for word, level in [("on", 1), ("off", 0), ("high", 1), ("low", 0), ("1", 1), ("0", 0), (True, 1), (0, 0)]:
            board.write("P4.0", word)
            assert board.pin("P4.0").level == level
        for word in ["ON", "true", "2", "", "on\0"]:
            with pytest.raises(tav.InvalidArgumentError):
                board.write("P4.0", word)
        # The words are the library's: one it refuses is refused here too.
        monkeypatch.setattr(tav._native._lib, "tav_parse_level", lambda *arguments: -1)
        with pytest.raises(tav.InvalidArgumentError):
            board.write("P4.0", "on")
        board.write("P4.0", 1)


def test_a_pin_call_without_pins_is_refused():
    with tav.open("sim:T") as board:
        for call in (board.output, board.input, board.float, board.set, board.reset, board.toggle):
            with pytest.raises(tav.InvalidArgumentError, match="no pins given"):
                call()
