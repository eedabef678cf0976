"""PWM groups, dividers and duties as tavctl reads them."""

import pytest

import tav


def test_percent_and_count_duties(view_line):
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


def test_percent_duties_round_as_tavctl_does():
    with tav.open("sim:T") as board:
        for duty, counts in [("33.3333%", 12000), ("0.0014%", 1), ("0.0013%", 0), ("99.9999%", 36000),
                             ("12.5%", 4500), ("0x2328", 9000)]:
            board.pwm_start("B", 1, [duty])
            assert board.pin("P8.0").pwm.duty_counts == counts, duty


def test_the_duty_unit_is_in_the_help():
    for method in (tav.Board.pwm_start, tav.Board.pwm_set):
        assert "25 counts = 0.07 %" in method.__doc__ and "counts of 36000" in method.__doc__, method.__doc__


def test_negative_duties_and_group_lists_are_named_as_such():
    with tav.open("sim:T") as board:
        with pytest.raises(tav.InvalidArgumentError, match="duty -1 is negative"):
            board.pwm_set("B", 1, -1)
        with pytest.raises(TypeError, match="a PWM group is a letter, not list"):
            board.pwm_start(["B"])
