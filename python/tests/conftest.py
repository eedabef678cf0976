"""What the package's tests share."""

import pytest


def _view_line(board, pin):
    """The board view's line of one pin, e.g. 'P4.8   0x40000100  PB8   output high'."""
    for line in board.status().splitlines():
        if line.split()[:1] == [pin]:
            return line
    raise AssertionError(f"{pin} not in the board view")


@pytest.fixture
def view_line():
    """view_line(board, "P4.8"): that pin's line of the board view."""
    return _view_line
