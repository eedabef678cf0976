"""A pytest plugin for testing a program that drives TAV boards, without a
board: ``pytest -p tav.testing``, or nothing at all once the package is
installed (it registers itself through the ``pytest11`` entry point).

The fixture ``tav_board`` is an open ``reattach:sim:T`` board (a virtual
board that finds itself again after a replug and restores what the program
set), closed after the test. ``@pytest.mark.tav_model("S")`` picks the model.
Its ``sim`` unplugs, plugs and fails it::

    def test_my_program_survives_a_replug(tav_board):
        my_program.start(tav_board)
        tav_board.sim.unplug()
        tav_board.sim.plug()
        wait_until(lambda: tav_board.connected)
        assert tav_board.pin("P4.8").function == "output high"
"""
from __future__ import annotations

from typing import Iterator

import pytest

import tav

__all__ = ["tav_board"]


def pytest_configure(config: pytest.Config) -> None:
    config.addinivalue_line("markers", "tav_model(letter): the model of the tav_board fixture's board: T, S or C")


@pytest.fixture
def tav_board(request: pytest.FixtureRequest) -> Iterator[tav.Board]:
    """An open reattach:sim:T board (the tav_model marker picks the model),
    closed after the test."""
    marker = request.node.get_closest_marker("tav_model")
    model = marker.args[0] if marker is not None and marker.args else "T"
    if not isinstance(model, str):
        raise TypeError(f"tav_model takes a model letter, not {type(model).__name__}")
    board = tav.open(f"reattach:sim:{model}")
    try:
        yield board
    finally:
        board.close()
