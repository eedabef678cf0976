"""Drive TAV USB input/output boards from Python.

A thin layer over libtav's C interface (``tav/tav.h``) through ctypes: no
compile step, standard library only::

    import tav
    with tav.open("sim:T") as board:      # tav.open() = first board; tav.open("usb:1:5")
        board.init()
        board.output("P4.8", "P4.10")
        board.set("P4.8")
        board.pwm_start("B", divider=2, duties=["25%", 0, 9000])
        board.pwm_set("B", 1, "50%")
        print(board.model, board.firmware)
        print(board.status())             # virtual boards only
    # leaving the block closes the board into the safe state;
    # board.release() leaves the outputs as they are

Selectors: "" (the first board), "usb:BUS:DEV" (decimal, as ``tavctl list``
shows them), "sim:T", "sim:S", "sim:C" (a fresh virtual board in this
process). A board puts each operation's records back to back on the bus
(``board.queued``); any selector after "sync:" ("sync:usb:1:5") sends them
one transfer at a time instead. Pins: names as tavctl takes them ("P4.0",
"P8.16", ranges "P4.0-3", lists "P4.0,P8.2") or identifiers (0x40000001). Duties: counter steps
(0-36000) or percentages ("25%").

Failures raise TavError (``.code``, ``.message``) or one of its subclasses;
an argument of the wrong type raises TypeError, a bad value
InvalidArgumentError (also a ValueError). Boards may be used from several
threads; operations on one board never interleave on the wire, and closing a
board while other threads call it waits for their calls (later ones raise
TavError: "the board is closed").
"""

from __future__ import annotations

from ._arguments import Duty, Pins, parse_pins
from .board import Board, describe_record, open
from .errors import AccessError, InvalidArgumentError, NotFoundError, NotVirtualError, Result, TavError, strerror
from .facts import PWM_DIVIDERS, PWM_FULL_SCALE, version
from .sim import Sim
from .states import Device, Event, PinState, PwmState
from .watch import Watch, list_boards, watch

__all__ = [
    "AccessError",
    "Board",
    "Device",
    "Duty",
    "Event",
    "InvalidArgumentError",
    "NotFoundError",
    "NotVirtualError",
    "PWM_DIVIDERS",
    "PWM_FULL_SCALE",
    "PinState",
    "Pins",
    "PwmState",
    "Result",
    "Sim",
    "TavError",
    "Watch",
    "describe_record",
    "list_boards",
    "open",
    "parse_pins",
    "strerror",
    "version",
    "watch",
]
