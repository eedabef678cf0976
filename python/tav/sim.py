"""A virtual board as a program's tests use it."""

from __future__ import annotations

from typing import TYPE_CHECKING, List, Tuple, Union

from ._arguments import Pins, _integer, _pin_identifiers, _shown, _single_pins
from ._native import _lib, _SimEdgeStruct
from .errors import _check, _invalid

if TYPE_CHECKING:
    from .board import Board


_SIM_FAULTS = {"timeout": 1, "stall": 2, "short": 3, "unplug": 4}


class Sim:
    """A virtual board as a program's tests use it (board.sim).

    unplug(): the board leaves its virtual bus as a real one leaves USB: the
    next call finds it gone (TavError 4, then 2), a "reattach:" board notices
    within its look interval even when nobody calls, tav.watch() reports it
    left. plug(): it comes back at power-on (every pin floating, timers off),
    so a "reattach:" board's policy acts on it. Either one again: nothing
    changes. fail(kind, after=1): the after-th record transfer from now meets
    "timeout" (the operation stops, TavError 4), "stall" or "short" (the
    operation goes on, TavError 4) or "unplug". edges(pin): the pin's level
    changes since the board was opened (or since use_virtual_time()), as
    (time in seconds, level): 1 high, 0 low, None not driven, "pwm" a PWM
    square wave (its settings changed)."""

    def __init__(self, board: "Board") -> None:
        self._board = board

    def unplug(self) -> None:
        _check(_lib.tav_sim_unplug(self._board._live()), "unplug")

    def plug(self) -> None:
        _check(_lib.tav_sim_plug(self._board._live()), "plug")

    def fail(self, kind: str, after: int = 1) -> None:
        if not isinstance(kind, str):
            raise TypeError(f"kind is one of {', '.join(map(repr, _SIM_FAULTS))}, not {type(kind).__name__}")
        if kind not in _SIM_FAULTS:
            raise _invalid(f"no fault {_shown(kind)}: {', '.join(map(repr, _SIM_FAULTS))}")
        count = _integer(after, "after", 1, 0x7FFFFFFF)
        _check(_lib.tav_sim_fail(self._board._live(), _SIM_FAULTS[kind], count), "fail")

    def edges(self, pin: Pins) -> List[Tuple[float, Union[int, str, None]]]:
        identifiers = [single for identifier in _pin_identifiers(pin) for single in _single_pins(identifier)]
        if len(identifiers) != 1:
            raise _invalid(f"edges() takes one pin, not {_shown(pin)}")
        identifier = identifiers[0]
        handle = self._board._live()
        while True:
            count = _lib.tav_sim_edges(handle, identifier, None, 0)
            if count < 0:
                _check(count, "edges")
            room = (_SimEdgeStruct * max(count, 1))()
            filled = _lib.tav_sim_edges(handle, identifier, room, count)
            if filled <= count:
                break
        levels = {1: 1, 0: 0, -1: None, 2: "pwm"}
        return [(room[index].time_ns / 1e9, levels[room[index].level]) for index in range(filled)]

    def __repr__(self) -> str:
        return f"<tav.Sim of {self._board!r}>"


