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
process); any of them after "queued:" ("queued:usb:1:5") sends each
operation's records back to back on the bus instead of one at a time. Pins: names as tavctl takes them ("P4.0", "P8.16", ranges "P4.0-3",
lists "P4.0,P8.2") or identifiers (0x40000001). Duties: counter steps
(0-36000) or percentages ("25%").

Failures raise TavError (``.code``, ``.message``) or one of its subclasses;
an argument of the wrong type raises TypeError, a bad value
InvalidArgumentError (also a ValueError). Boards may be used from several
threads; operations on one board never interleave on the wire, and closing a
board while other threads call it waits for their calls (later ones raise
TavError: "the board is closed").
"""

from __future__ import annotations

import builtins
import ctypes
import ctypes.util
import errno
import functools
import queue
import logging
import math
import os
import sys
import threading
from dataclasses import dataclass
from typing import Callable, Iterable, List, Optional, Sequence, Set, Tuple, Union

__all__ = [
    "AccessError",
    "Board",
    "InvalidArgumentError",
    "NotFoundError",
    "NotVirtualError",
    "PWM_DIVIDERS",
    "PWM_FULL_SCALE",
    "PinState",
    "PwmState",
    "TavError",
    "Device",
    "Event",
    "Watch",
    "describe_record",
    "list_boards",
    "open",
    "watch",
    "parse_pins",
    "strerror",
    "version",
]

Pins = Union[str, int]
Duty = Union[str, int]


def _library_name(platform: Optional[str] = None) -> str:
    """libtav's file name: tav.dll on Windows, libtav.so.1 elsewhere."""
    platform = sys.platform if platform is None else platform
    return "tav.dll" if platform.startswith(("win32", "cygwin", "msys")) else "libtav.so.1"


def _library_candidates(platform: Optional[str] = None, environ=None) -> List[str]:
    """Where libtav is looked for, in order: TAV_LIBRARY, beside this
    package, where an installation put it, the system's search path (on
    Windows the DLL search path), ctypes' find_library."""
    environ = os.environ if environ is None else environ
    name = _library_name(platform)
    candidates = []
    if environ.get("TAV_LIBRARY"):
        candidates.append(environ["TAV_LIBRARY"])
    here = os.path.dirname(os.path.abspath(__file__))
    candidates.append(os.path.join(here, name))
    try:
        from tav._install import LIBRARY  # written by cmake --install
        candidates.append(LIBRARY)
    except ImportError:
        pass
    candidates.append(name)
    found = ctypes.util.find_library("tav")
    if found:
        candidates.append(found)
    return candidates


def _load_library() -> ctypes.CDLL:
    problems = []
    for candidate in _library_candidates():
        if os.path.dirname(candidate) and not os.path.exists(candidate):
            problems.append(f"{candidate}: no such file")
            continue
        try:
            return ctypes.CDLL(candidate)
        except OSError as error:
            problems.append(str(error))
    raise ImportError(f"{_library_name()} not found (set TAV_LIBRARY to its path): " + "; ".join(problems))


_lib = _load_library()


# A tav_board*: opaque, passed as it is.
_BoardPointer = ctypes.c_void_p


def _declare(name: str, result, *arguments) -> None:
    function = getattr(_lib, name)
    function.restype = result
    function.argtypes = list(arguments)


_declare("tav_constant", ctypes.c_int, ctypes.c_char_p, ctypes.POINTER(ctypes.c_long))


def _constant(name: str) -> int:
    """One of tav.h's constants, as the library has it."""
    value = ctypes.c_long()
    if _lib.tav_constant(name.encode(), ctypes.byref(value)) != 0:
        raise ImportError(f"{_library_name()} does not know {name}: an older library than this package")
    return value.value


_OK = _constant("TAV_OK")
_NOT_OPEN = _constant("TAV_NOT_OPEN")
_PIN_UNAVAILABLE = _constant("TAV_PIN_UNAVAILABLE")
_E_INVALID = _constant("TAV_E_INVALID")
_E_NOT_FOUND = _constant("TAV_E_NOT_FOUND")
_E_ACCESS = _constant("TAV_E_ACCESS")
_E_NOT_VIRTUAL = _constant("TAV_E_NOT_VIRTUAL")
_RECORD_SIZE = _constant("TAV_RECORD_SIZE")

_declare("tav_strerror", ctypes.c_char_p, ctypes.c_int)
_declare("tav_pwm_full_scale", ctypes.c_uint32)

PWM_FULL_SCALE = _lib.tav_pwm_full_scale()
"""Counter steps in one PWM period: a duty of full scale is always on."""
_PWM_BASE_HZ = _constant("TAV_PWM_BASE_HZ")

_declare("tav_version", ctypes.c_char_p)
_ConnectionCallback = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.c_int, ctypes.c_void_p)

# The library's log (why an open, a claim or a transfer failed, and its debug
# lines) goes to logging.getLogger("tav"): configure logging to see it.
_LOGGER = logging.getLogger("tav")
_LOG_LEVELS = {1: logging.ERROR, 2: logging.WARNING, 3: logging.INFO, 4: logging.DEBUG}
_LogCallback = ctypes.CFUNCTYPE(None, ctypes.c_int, ctypes.c_char_p, ctypes.c_void_p)


def _log_line(level: int, text: bytes, _user) -> None:
    python_level = _LOG_LEVELS.get(level, logging.DEBUG)
    if _LOGGER.isEnabledFor(python_level):
        _LOGGER.log(python_level, "%s", text.decode(errors="replace"))


_log_callback = _LogCallback(_log_line)  # kept: the library holds it for the process
_declare("tav_set_log_callback", None, _LogCallback, ctypes.c_void_p)
_lib.tav_set_log_callback(_log_callback, None)
_declare("tav_open", ctypes.c_int, ctypes.c_char_p, ctypes.POINTER(_BoardPointer))
_declare("tav_connected", ctypes.c_int, _BoardPointer)
_declare("tav_set_connection_callback", ctypes.c_int, _BoardPointer, _ConnectionCallback, ctypes.c_void_p)
_declare("tav_close", None, _BoardPointer)
_declare("tav_release", None, _BoardPointer)
_declare("tav_disconnect", ctypes.c_int, _BoardPointer, ctypes.c_int)
_declare("tav_model", ctypes.c_char, _BoardPointer)
_declare("tav_firmware", ctypes.c_int, _BoardPointer, ctypes.c_char_p, ctypes.c_size_t)
_declare("tav_init", ctypes.c_int, _BoardPointer, ctypes.c_uint32)
_declare("tav_safe", ctypes.c_int, _BoardPointer)
for _name in ("tav_pin_output", "tav_pin_input", "tav_pin_float", "tav_pin_set", "tav_pin_reset"):
    _declare(_name, ctypes.c_int, _BoardPointer, ctypes.c_uint32)
_declare("tav_pin_write", ctypes.c_int, _BoardPointer, ctypes.c_uint32, ctypes.c_int)
_declare("tav_pwm_start", ctypes.c_int, _BoardPointer, ctypes.c_char, ctypes.c_int,
         ctypes.POINTER(ctypes.c_uint32), ctypes.c_size_t)
_declare("tav_pwm_set", ctypes.c_int, _BoardPointer, ctypes.c_char, ctypes.c_uint, ctypes.c_uint32)
_declare("tav_pwm_stop", ctypes.c_int, _BoardPointer)
_declare("tav_send_record", ctypes.c_int, _BoardPointer, ctypes.c_char_p)
_declare("tav_parse_pins", ctypes.c_int, ctypes.c_char_p, ctypes.POINTER(ctypes.c_uint32),
         ctypes.POINTER(ctypes.c_size_t), ctypes.c_char_p, ctypes.c_size_t)
_declare("tav_describe_record", ctypes.c_int, ctypes.c_char_p, ctypes.c_char_p, ctypes.c_size_t)
_declare("tav_parse_pwm_group", ctypes.c_int, ctypes.c_char_p, ctypes.POINTER(ctypes.c_char), ctypes.c_char_p,
         ctypes.c_size_t)
_declare("tav_parse_duty", ctypes.c_int, ctypes.c_char_p, ctypes.POINTER(ctypes.c_uint32), ctypes.c_char_p,
         ctypes.c_size_t)
_declare("tav_parse_pwm_divider", ctypes.c_int, ctypes.c_char_p, ctypes.POINTER(ctypes.c_int), ctypes.c_char_p,
         ctypes.c_size_t)
_declare("tav_parse_selector", ctypes.c_int, ctypes.c_char_p, ctypes.c_char_p, ctypes.c_size_t)
_declare("tav_pwm_dividers", ctypes.c_int, ctypes.POINTER(ctypes.c_int), ctypes.c_size_t)
_declare("tav_pin_state_group", ctypes.c_int, ctypes.c_void_p, ctypes.POINTER(ctypes.c_char),
         ctypes.POINTER(ctypes.c_int))


def _pwm_dividers() -> List[int]:
    dividers = (ctypes.c_int * _lib.tav_pwm_dividers(None, 0))()
    _lib.tav_pwm_dividers(dividers, len(dividers))
    return list(dividers)


PWM_DIVIDERS = tuple(_pwm_dividers())
"""The dividers pwm_start takes, smallest first (2000 Hz / divider)."""
_declare("tav_open_problem", ctypes.c_char_p)
_declare("tav_sim_status", ctypes.c_int, _BoardPointer, ctypes.c_char_p, ctypes.c_size_t)
_declare("tav_sim_set_virtual_time", ctypes.c_int, _BoardPointer, ctypes.c_int)
_declare("tav_sim_advance", ctypes.c_int, _BoardPointer, ctypes.c_uint64)
_declare("tav_sim_write_vcd", ctypes.c_int, _BoardPointer, ctypes.c_char_p)
_declare("tav_sim_write_svg", ctypes.c_int, _BoardPointer, ctypes.c_char_p)
_declare("tav_pwm_start_hz", ctypes.c_int, _BoardPointer, ctypes.c_char, ctypes.c_double,
         ctypes.POINTER(ctypes.c_double), ctypes.c_size_t, ctypes.POINTER(ctypes.c_double))
_declare("tav_pwm_set_percent", ctypes.c_int, _BoardPointer, ctypes.c_char, ctypes.c_uint, ctypes.c_double)
_declare("tav_pwm_set_pulse", ctypes.c_int, _BoardPointer, ctypes.c_char, ctypes.c_uint, ctypes.c_double)
_declare("tav_pwm_stop_group", ctypes.c_int, _BoardPointer, ctypes.c_char)
_declare("tav_pwm_time_base", ctypes.c_int, ctypes.c_double, ctypes.POINTER(ctypes.c_uint32),
         ctypes.POINTER(ctypes.c_uint32), ctypes.POINTER(ctypes.c_double))
_declare("tav_sim_unplug", ctypes.c_int, _BoardPointer)
_declare("tav_sim_plug", ctypes.c_int, _BoardPointer)
_declare("tav_sim_fail", ctypes.c_int, _BoardPointer, ctypes.c_int, ctypes.c_uint)


class _SimEdgeStruct(ctypes.Structure):
    _fields_ = [("time_ns", ctypes.c_uint64), ("level", ctypes.c_int)]


_declare("tav_sim_edges", ctypes.c_int, _BoardPointer, ctypes.c_uint32, ctypes.POINTER(_SimEdgeStruct), ctypes.c_size_t)


class _PinStateStruct(ctypes.Structure):
    """tav_pin_state."""
    _fields_ = [("known", ctypes.c_int), ("function", ctypes.c_int), ("name", ctypes.c_char * 8),
                ("mcu_pin", ctypes.c_char * 8), ("timer", ctypes.c_int), ("channel", ctypes.c_int),
                ("frequency_hz", ctypes.c_double), ("duty_counts", ctypes.c_uint32),
                ("period_counts", ctypes.c_uint32), ("duty_percent", ctypes.c_double),
                ("description", ctypes.c_char * 112)]


_declare("tav_pin_state_get", ctypes.c_int, _BoardPointer, ctypes.c_uint32, ctypes.POINTER(_PinStateStruct))


def _unchecked(name: str):
    """The pin calls once more, without argument conversion: the pin path
    hands them a c_void_p board and c_uint32 identifiers it made once."""
    function = _lib[name]
    function.restype = ctypes.c_int
    return function


_PIN_OUTPUT, _PIN_INPUT, _PIN_FLOAT, _PIN_SET, _PIN_RESET, _PIN_WRITE = (
    _unchecked(name) for name in ("tav_pin_output", "tav_pin_input", "tav_pin_float", "tav_pin_set", "tav_pin_reset",
                                  "tav_pin_write"))
_LEVEL_FUNCTIONS = (_PIN_SET, _PIN_RESET, _PIN_WRITE)  # they store a level, not a mode
_LEVEL_ARGUMENTS = (ctypes.c_int(0), ctypes.c_int(1))
_PIN_INPUT_PULL, _PIN_OUTPUT_OPEN_DRAIN = (_unchecked(name) for name in ("tav_pin_input_pull",
                                                                         "tav_pin_output_open_drain"))
_PULLS = {"up": ctypes.c_int(_constant("TAV_PULL_UP")), "down": ctypes.c_int(_constant("TAV_PULL_DOWN"))}

# tav_pin_function's values, by the library: TAV_PIN_PULL_UP_INPUT is "pull_up_input".
_PIN_FUNCTIONS = {_constant("TAV_PIN_" + name.upper()): name
                  for name in ("debug_port", "analog_input", "floating_input", "pull_down_input", "pull_up_input",
                               "output_high", "output_low", "pwm", "not_driven")}


def strerror(code: int) -> str:
    """The library's words for a result code."""
    return _lib.tav_strerror(code).decode()


def version() -> str:
    """The version of the loaded libtav."""
    return _lib.tav_version().decode()


class TavError(Exception):
    """A call into libtav failed: ``code`` is its result, ``message`` its words."""

    def __init__(self, code: int, message: Optional[str] = None):
        self.code = code
        self.message = message if message is not None else strerror(code)
        super().__init__(self.message)


class InvalidArgumentError(TavError, ValueError):
    """A bad argument: unknown pin, group, channel, divider or duty, a bad selector."""


class NotFoundError(TavError):
    """No board matches the selector."""


class AccessError(TavError):
    """A matching board exists but cannot be opened or claimed (permissions, or held elsewhere)."""


class NotVirtualError(TavError):
    """A virtual-board function was called on a real board."""


_ERRORS = {
    _E_INVALID: InvalidArgumentError,
    _E_NOT_FOUND: NotFoundError,
    _E_ACCESS: AccessError,
    _E_NOT_VIRTUAL: NotVirtualError,
}


def _error(code: int, what: Optional[str] = None) -> TavError:
    message = strerror(code) if what is None else f"{what}: {strerror(code)}"
    return _ERRORS.get(code, TavError)(code, message)


def _check(code: int, what: Optional[str] = None) -> None:
    if code != _OK:
        raise _error(code, what)


def _invalid(message: str) -> InvalidArgumentError:
    return InvalidArgumentError(_E_INVALID, message)


def _shown(value) -> str:
    """A caller's value in a message: long text and huge numbers cut short."""
    if isinstance(value, int) and not isinstance(value, bool) and value.bit_length() > 64:
        return f"{'-' if value < 0 else ''}(a {value.bit_length()}-bit number)"
    if isinstance(value, str) and len(value) > 40:
        return f"{value[:40]!r}... ({len(value)} characters)"
    return repr(value) if isinstance(value, str) else str(value)


def _text(value, what: str) -> bytes:
    """Text for the C interface: a str without NUL, as UTF-8."""
    if not isinstance(value, str):
        raise TypeError(f"{what} must be text, not {type(value).__name__}")
    if "\0" in value:
        raise _invalid(f"{what} {_shown(value)} holds a NUL character")
    try:
        return value.encode()
    except UnicodeEncodeError as problem:
        raise _invalid(f"{what} {_shown(value)} is not valid text ({problem.reason})") from None


def _integer(value, what: str, low: int, high: int) -> int:
    """A whole number from low to high; never wrapped by ctypes."""
    if isinstance(value, bool) or not isinstance(value, int):
        raise TypeError(f"{what} must be a whole number, not {type(value).__name__}")
    if not low <= value <= high:
        raise _invalid(f"{what} {_shown(value)} is not from {low} to {high}")
    return value


def _parse_pin_text(text: str) -> Tuple[int, ...]:
    identifiers = (ctypes.c_uint32 * 2)()
    count = ctypes.c_size_t()
    reason = ctypes.create_string_buffer(256)
    code = _lib.tav_parse_pins(_text(text, "pins"), identifiers, ctypes.byref(count), reason, len(reason))
    if code != _OK:
        raise _invalid(reason.value.decode(errors="replace"))
    return tuple(identifiers[: count.value])


_PIN_ARGUMENTS = {}  # pin text or identifier -> its identifiers as c_uint32, for the pin calls
_PIN_ARGUMENTS_LIMIT = 1024
_PIN_KEYS = (str, int)  # exactly these types (not bool) are looked up


def _pin_arguments(pins: Pins) -> Tuple[ctypes.c_uint32, ...]:
    """The identifiers of a pin argument, ready for the unchecked pin calls."""
    arguments = tuple(ctypes.c_uint32(identifier) for identifier in _pin_identifiers(pins))
    if type(pins) in _PIN_KEYS:
        if len(_PIN_ARGUMENTS) >= _PIN_ARGUMENTS_LIMIT:
            _PIN_ARGUMENTS.clear()
        _PIN_ARGUMENTS[pins] = arguments
    return arguments


def _pin_identifiers(pins: Pins) -> Tuple[int, ...]:
    """A pin argument read by the library (the pin calls keep what it gives)."""
    if isinstance(pins, str):
        return _parse_pin_text(pins)
    if isinstance(pins, bool) or not isinstance(pins, int):
        raise TypeError(f"pins must be a name or an identifier, not {type(pins).__name__}")
    return _parse_pin_text(str(_integer(pins, "pin identifier", 0, 0xFFFFFFFF)))


def parse_pins(pins: Pins) -> List[int]:
    """Pin identifiers (one per bank) for a name, range, list or identifier."""
    return list(_pin_identifiers(pins))


def _single_pins(identifier: int) -> List[int]:
    """One identifier per named pin of a bank identifier."""
    bank = identifier & 0xF0000000
    return [bank | 1 << bit for bit in range(28) if identifier >> bit & 1]


def _parsed_text(check, text: bytes) -> None:
    """A text the library checks, with its reason when it refuses it."""
    reason = ctypes.create_string_buffer(512)
    if check(text, reason, len(reason)) != _OK:
        raise _invalid(reason.value.decode(errors="replace"))


def _parsed(parse, text: str, what: str, result):
    """One of the library's readers of PWM arguments, as tavctl uses them."""
    reason = ctypes.create_string_buffer(256)
    if parse(_text(text, what), ctypes.byref(result), reason, len(reason)) != _OK:
        raise _invalid(reason.value.decode(errors="replace"))
    return result.value


def _note_small_counts(duties: Sequence[Duty]) -> None:
    """A bare number is counts, but a duty of 25 was most likely meant as
    25 %: said on the tav logger when every duty given reads that way."""
    shown = 0
    for duty in duties:
        if isinstance(duty, bool) or not isinstance(duty, (int, str)):
            return
        if isinstance(duty, int):
            counts = abs(duty)
        else:
            text = duty.lstrip("+-")
            if not (text.isascii() and text.isdigit()) or len(text) > 3:
                return
            counts = int(text)
        if counts > 100:
            return
        shown = shown or counts
    if shown:
        _LOGGER.warning("%d counts = %.2f %%; write '%d%%' for a percentage", shown, 100.0 * shown / PWM_FULL_SCALE,
                        shown)


def _duty_counts(duty: Duty) -> int:
    """Counter steps for a count (9000, "9000", "0x2328") or a percentage
    ("25%", "12.5%"), read by the library as tavctl reads it."""
    if isinstance(duty, str):
        return _parsed(_lib.tav_parse_duty, duty, "a duty", ctypes.c_uint32())
    if isinstance(duty, bool) or not isinstance(duty, int):
        raise TypeError(f"a duty is a count or text like '25%', not {type(duty).__name__}")
    if duty < 0:
        raise _invalid(f"duty {_shown(duty)} is negative: counts run from 0 to {PWM_FULL_SCALE} (or give a percentage like 50%)")
    if duty > PWM_FULL_SCALE:
        raise _invalid(f"duty {_shown(duty)} is above full scale ({PWM_FULL_SCALE} counts, or give a percentage like 50%)")
    return duty


def _duty_count(duty: Duty) -> int:
    """A duty in counts, as a number or text ("9000", "0x2328"), not checked
    against a full scale (the library checks it against the group's)."""
    if isinstance(duty, str):
        text = duty
        try:
            if not text.isascii() or not text.replace("x", "").replace("X", "").isalnum():
                raise ValueError(text)
            value = int(text, 16) if text.lower().startswith("0x") else int(text, 10)
        except ValueError:
            raise _invalid(f"duty {_shown(duty)}: counts (9000, 0x2328) or a percentage (50%)") from None
    elif isinstance(duty, bool) or not isinstance(duty, int):
        raise TypeError(f"a duty is a count or text like '25%', not {type(duty).__name__}")
    else:
        value = duty
    if value < 0:
        raise _invalid(f"duty {_shown(duty)} is negative: counts run from 0 to the group's full scale (or give a "
                       "percentage like 50%)")
    if value > 0xFFFFFFFF:
        raise _invalid(f"duty {_shown(duty)} is above full scale (or give a percentage like 50%)")
    return value


def _duty_percent(duty: Duty, full_scale: int) -> float:
    """A duty in percent: text like "7.5%", or counts of full_scale."""
    if isinstance(duty, str) and duty.endswith("%"):
        text = duty[:-1]
        if not text or not all(character.isdigit() or character == "." for character in text) or text.count(".") > 1:
            raise _invalid(f"duty {_shown(duty)}: a percentage is digits and a point, like 7.5%")
        percent = builtins.float(text)
        if percent > 100:
            raise _invalid(f"duty {_shown(duty)} is above 100%")
        return percent
    counts = _duty_count(duty)
    if counts > full_scale:
        raise _invalid(f"duty {_shown(duty)} is above full scale ({full_scale} counts at this frequency)")
    return counts * 100.0 / full_scale


def _group(group: str) -> bytes:
    # Checked before the cache, which cannot take what is not hashable.
    if not isinstance(group, str):
        raise TypeError(f"a PWM group is a letter, not {type(group).__name__}")
    return _group_letter(group)


@functools.lru_cache(maxsize=16)
def _group_letter(group: str) -> bytes:
    return _parsed(_lib.tav_parse_pwm_group, group, "a PWM group", ctypes.c_char())


# Levels as tavctl takes them.
_LEVELS = {True: 1, False: 0, 1: 1, 0: 0, "1": 1, "0": 0, "high": 1, "low": 0, "on": 1, "off": 0}


def _level(value) -> int:
    if isinstance(value, (bool, int, str)):
        try:
            return _LEVELS[value]
        except KeyError:
            pass
        raise _invalid(f"level {_shown(value)} is not 0, 1, True, False, 'high', 'low', 'on' or 'off'")
    raise TypeError(f"a level is 0, 1, True, False or a word like 'high', not {type(value).__name__}")


def _record(record, what: str) -> bytes:
    if isinstance(record, str) or not isinstance(record, (bytes, bytearray, memoryview)):
        raise TypeError(f"{what} must be bytes, not {type(record).__name__}")
    return bytes(record)


@dataclass(frozen=True)
class PwmState:
    """What drives a PWM pin: its group (timer), the timer's channel and the
    group's channel (as pwm_set counts it: group A's channel 1 is TIM1's
    channel 3)."""
    group: str             # "A", "B", "C" (TIM1, TIM2, TIM3)
    timer_channel: int     # the timer's output-compare channel, 1..4
    frequency_hz: float
    duty_counts: int
    period_counts: int
    duty_percent: float
    channel: int = 0       # the group's channel, 1..4


@dataclass(frozen=True)
class PinState:
    """What a board pin does by the records this board object sent (on a
    virtual board: what the board does). ``known`` is False for a pin of a
    real board that this object has not set."""
    name: str              # "P4.8"
    identifier: int        # 0x40000100
    mcu_pin: str           # "PB8"; "-" where this model has no such pin
    function: str          # "output_high", "floating_input", "pwm", ... (as tavctl's JSON)
    known: bool
    description: str      # as board.status() shows it
    pwm: Optional[PwmState] = None

    @property
    def level(self) -> Optional[int]:
        """1 or 0 for an output, None otherwise."""
        return {"output_high": 1, "output_low": 0}.get(self.function)


class _DeviceStruct(ctypes.Structure):
    """tav_device."""
    _fields_ = [("selector", ctypes.c_char * 24), ("bus", ctypes.c_uint), ("device", ctypes.c_uint),
                ("vendor", ctypes.c_uint16), ("product", ctypes.c_uint16), ("board", ctypes.c_int),
                ("openable", ctypes.c_int), ("model", ctypes.c_char), ("library", ctypes.c_char * 16),
                ("port", ctypes.c_char * 32)]


_declare("tav_list_sized", ctypes.c_int, ctypes.POINTER(_DeviceStruct), ctypes.c_size_t, ctypes.c_int,
         ctypes.c_size_t)


@dataclass(frozen=True)
class Device:
    """A USB device as list_boards() finds it."""
    selector: str          # "usb:001:010", for tav.open(); "" where no selector reaches it
    bus: int
    device: int
    vendor: int
    product: int
    board: bool            # a TAV board
    openable: bool         # it could be opened just now
    model: Optional[str]   # "T", "S", "C" or "?" for a board it could open
    library: str = ""      # the USB library that reaches it: "libusb 0.1", "libusb-win32", "libusb-1.0"
    port: str = ""         # where it is plugged in, "1-3.2", for tav.open("port:1-3.2"); "" where unknown


def _device_of(entry: _DeviceStruct) -> Device:
    return Device(entry.selector.decode(), entry.bus, entry.device, entry.vendor, entry.product, bool(entry.board),
                  bool(entry.openable), entry.model.decode() if entry.model != b"\0" else None,
                  entry.library.decode(), entry.port.decode())


def list_boards(all: bool = False) -> List[Device]:  # noqa: A002 - as tavctl list --all
    """The TAV boards on the USB bus (every USB device with all=True). Each
    board is opened for a moment to tell whether it can be and its model."""
    capacity = 16
    while True:
        found = (_DeviceStruct * capacity)()
        count = _lib.tav_list_sized(found, capacity, 1 if all else 0, ctypes.sizeof(_DeviceStruct))
        _check(count if count < 0 else _OK, "list_boards")
        if count <= capacity:
            return [_device_of(entry) for entry in found[:count]]
        capacity = count


class _EventStruct(ctypes.Structure):
    """tav_event."""
    _fields_ = [("kind", ctypes.c_int), ("initial", ctypes.c_int), ("device", ctypes.POINTER(_DeviceStruct))]


_WatchCallback = ctypes.CFUNCTYPE(None, ctypes.POINTER(_EventStruct), ctypes.c_void_p)
_declare("tav_watch", ctypes.c_int, _WatchCallback, ctypes.c_void_p, ctypes.c_uint, ctypes.POINTER(ctypes.c_void_p))
_declare("tav_unwatch", None, ctypes.c_void_p)


@dataclass(frozen=True)
class Event:
    """A TAV board arriving on the USB bus or leaving it (watch())."""
    kind: str        # "arrived" or "left"
    initial: bool    # one of the boards already there when watching began
    device: Device   # as list_boards() gives it, not opened: openable False, model None


class Watch:
    """Boards arriving and leaving, from a thread of the library's own that
    looks at the bus every interval seconds: first the boards already there,
    then each change once, in order. Iterate over it (each event as it comes;
    stop() or leaving a with block ends the iteration), or give a callback,
    called on the watching thread. Nothing is opened or sent."""

    _END = object()

    def __init__(self, callback: Optional[Callable[[Event], None]] = None, interval: float = 0.25) -> None:
        if callback is not None and not callable(callback):
            raise TypeError("callback must be callable")
        if isinstance(interval, bool) or not isinstance(interval, (int, float)) or not 0.01 <= interval <= 10:
            raise _invalid(f"interval {interval!r}: seconds from 0.01 to 10")
        self._callback = callback
        self._events: "queue.Queue[object]" = queue.Queue()
        self._handle = ctypes.c_void_p()
        self._c_callback = _WatchCallback(self._deliver)  # kept: the library calls it until stop()
        _check(_lib.tav_watch(self._c_callback, None, int(round(interval * 1000)), ctypes.byref(self._handle)), "watch")

    def _deliver(self, event, _user) -> None:
        happened = Event("arrived" if event.contents.kind == 1 else "left", bool(event.contents.initial),
                         _device_of(event.contents.device.contents))
        if self._callback is not None:
            self._callback(happened)
        else:
            self._events.put(happened)

    def stop(self) -> None:
        """No event after this returns; an iteration ends. Again: nothing."""
        if self._handle:
            _lib.tav_unwatch(self._handle)
            self._handle = ctypes.c_void_p()
            self._events.put(Watch._END)

    def __iter__(self) -> "Watch":
        return self

    def __next__(self) -> Event:
        happened = self.get()
        if happened is None:
            raise StopIteration
        return happened

    def get(self, timeout: Optional[float] = None) -> Optional[Event]:
        """The next event, or None when none came within timeout seconds (or
        the watch stopped)."""
        try:
            happened = self._events.get(timeout=timeout)
        except queue.Empty:
            return None
        if happened is Watch._END:
            self._events.put(Watch._END)
            return None
        return happened

    def __enter__(self) -> "Watch":
        return self

    def __exit__(self, *_exception) -> None:
        self.stop()

    def __del__(self) -> None:
        try:
            self.stop()
        except Exception:  # noqa: BLE001 - interpreter shutting down
            pass


def watch(callback: Optional[Callable[[Event], None]] = None, interval: float = 0.25) -> Watch:
    """Boards arriving on the USB bus and leaving it: `for event in
    tav.watch(): print(event.kind, event.device.selector, event.device.port)`,
    or tav.watch(callback). See Watch."""
    return Watch(callback, interval)


def describe_record(record: bytes) -> str:
    """A 64-byte record in words, as the board's firmware reads it."""
    record = _record(record, "a record")
    if len(record) != _RECORD_SIZE:
        raise _invalid(f"a record is {_RECORD_SIZE} bytes, not {len(record)}")
    text = ctypes.create_string_buffer(512)
    _check(_lib.tav_describe_record(record, text, len(text)))
    return text.value.decode()


def open(selector: str = "") -> "Board":  # noqa: A001 - tav.open() is the natural name
    """Opens the board the selector names; see the module's documentation."""
    return Board(selector)


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


class Board:
    """One open TAV board. Close it (or leave its ``with`` block) to bring it
    into the safe state; ``release()`` lets go of it with outputs as they are."""

    def __init__(self, selector: str = ""):
        handle = ctypes.c_void_p()
        text = _text(selector, "a selector")
        _parsed_text(_lib.tav_parse_selector, text)
        code = _lib.tav_open(text, ctypes.byref(handle))
        problem = _lib.tav_open_problem() if code in (_E_ACCESS, _E_NOT_FOUND, _E_INVALID) else None
        # The library's words: who holds the board, or (the program's own
        # selector being checked above) why TAV_DEVICE is no selector.
        if code in (_E_ACCESS, _E_INVALID) and problem:
            raise _ERRORS.get(code, TavError)(code, problem.decode(errors="replace"))
        what = f"cannot open {_shown(selector) if selector else 'the first board'}"
        if problem:  # why nothing was found: no USB library, or one that cannot reach the board
            raise _ERRORS.get(code, TavError)(code, f"{what}: {strerror(code)}: {problem.decode(errors='replace')}")
        _check(code, what)
        # The C object lives as long as this one: closing only ends the
        # connection, so a thread still inside a call never meets freed memory.
        self._handle: Optional[ctypes.c_void_p] = handle
        self._closed = False
        self._end_lock = threading.Lock()
        self._selector = selector
        # Pins seen to be outputs since the last change of any pin's mode:
        # a level set on them needs no second look.
        self._driven: Set[int] = set()

    # ---- lifetime -----------------------------------------------------
    def close(self) -> None:
        """Safe state (debug port back, PWM off, every pin floating), then
        release. Waits for calls running in other threads. Idempotent."""
        self._end(1)

    def release(self) -> None:
        """Lets go of the board without sending anything: outputs stay as set. Idempotent."""
        self._end(0)

    def _end(self, safe_state: int) -> None:
        with self._end_lock:  # two threads closing: one ends it
            if self._closed:
                return
            self._closed = True
        _lib.tav_disconnect(self._handle, safe_state)
        _lib.tav_set_connection_callback(self._handle, _ConnectionCallback(), None)

    @property
    def connected(self) -> bool:
        """Whether the board is there now: False once it left (and after
        close()); a "reattach:" board is True again once found back."""
        return not self._closed and _lib.tav_connected(self._handle) == 1

    def on_connection(self, callback: Optional[Callable[[bool], None]]) -> None:
        """A "reattach:" board calls callback(False) when it noticed its board
        gone and callback(True) when the board is back and its policy applied
        (reattach: the commanded state sent again, reattach-safe: the safe
        state, reattach-none: nothing), on a thread of the library's. None
        stops it."""
        if callback is not None and not callable(callback):
            raise TypeError("callback must be callable or None")
        function = _ConnectionCallback() if callback is None else _ConnectionCallback(
            lambda _board, connected, _user: callback(bool(connected)))
        _check(_lib.tav_set_connection_callback(self._live(), function, None), "on_connection")
        self._connection_callback = function  # kept: the library calls it

    @property
    def closed(self) -> bool:
        return self._closed

    def __enter__(self) -> "Board":
        return self

    def __exit__(self, *exception) -> None:
        self.close()

    def __del__(self) -> None:
        # No thread can be inside a call now. A board forgotten without
        # close() is released, never left claimed (at interpreter exit the
        # library may be gone already).
        try:
            handle = getattr(self, "_handle", None)
            if handle is not None:
                self._handle = None
                _lib.tav_release(handle)
        except Exception:  # noqa: BLE001 - nothing can be reported from here
            pass

    def __repr__(self) -> str:
        try:
            state = "closed" if self.closed else f"model {self.model}, firmware {self.firmware}"
        except TavError:
            state = f"model {self.model}, not connected"
        return f"<tav.Board {self._selector or 'first board'!r}: {state}>"

    def _live(self):
        if self._closed:
            raise TavError(_NOT_OPEN, "the board is closed")
        return self._handle

    def _failed(self, code: int, what: str) -> TavError:
        if code == _NOT_OPEN and self._closed:
            return TavError(_NOT_OPEN, "the board is closed")
        return _error(code, what)

    # ---- information --------------------------------------------------
    @property
    def model(self) -> str:
        """'T', 'S', 'C', or '?'."""
        return _lib.tav_model(self._live()).decode()

    @property
    def firmware(self) -> str:
        """The firmware version, e.g. '1.0.2.13'."""
        text = ctypes.create_string_buffer(64)
        code = _lib.tav_firmware(self._live(), text, len(text))
        if code != _OK:
            raise self._failed(code, "firmware")
        return text.value.decode()

    def status(self) -> str:
        """What every pin does now, in words (virtual boards only; NotVirtualError otherwise)."""
        text = ctypes.create_string_buffer(16384)
        code = _lib.tav_sim_status(self._live(), text, len(text))
        if code != _OK:
            raise self._failed(code, "status")
        return text.value.decode()

    def pin(self, pin: Pins) -> PinState:
        """What one board pin does, as data (see PinState)."""
        identifiers = [single for identifier in _pin_identifiers(pin) for single in _single_pins(identifier)]
        if len(identifiers) != 1:
            raise _invalid(f"pin() takes one pin, not {pin!r}")
        return self._pin_state(identifiers[0])

    def pins(self) -> List[PinState]:
        """What each of the 33 board pins does, P4.0 to P8.16."""
        return [self._pin_state(single) for text in ("P4.0-15", "P8.0-16")
                for identifier in _pin_identifiers(text) for single in _single_pins(identifier)]

    def _pin_state(self, identifier: int) -> PinState:
        state = _PinStateStruct()
        code = _lib.tav_pin_state_get(self._live(), identifier, ctypes.byref(state))
        if code != _OK:
            raise self._failed(code, f"pin state of {identifier:#010x}")
        pwm = None
        if _PIN_FUNCTIONS[state.function] == "pwm":
            group = ctypes.c_char()
            channel = ctypes.c_int()
            code = _lib.tav_pin_state_group(ctypes.byref(state), ctypes.byref(group), ctypes.byref(channel))
            if code != _OK:
                raise self._failed(code, f"PWM group of {state.name.decode()}")
            pwm = PwmState(group.value.decode(), state.channel, state.frequency_hz, state.duty_counts,
                           state.period_counts, state.duty_percent, channel.value)
        return PinState(state.name.decode(), identifier, state.mcu_pin.decode(), _PIN_FUNCTIONS[state.function],
                        bool(state.known), state.description.decode(errors="replace"), pwm)

    @property
    def sim(self) -> "Sim":
        """What a test does to a virtual board ("sim:" selectors): unplug it,
        plug it back, make its transfers fail, read a pin's level changes. On
        a real board each of them raises NotVirtualError."""
        return Sim(self)

    def use_virtual_time(self, enabled: bool = True) -> None:
        """Virtual boards: the clock that stamps records moves only by advance()
        (it restarts at 0); with False it follows real time again."""
        if not isinstance(enabled, (bool, int)):
            raise TypeError(f"enabled is True or False, not {type(enabled).__name__}")
        _check(_lib.tav_sim_set_virtual_time(self._live(), 1 if enabled else 0), "use_virtual_time")

    def advance(self, seconds: float) -> None:
        """Virtual boards in virtual time: moves the clock on."""
        if isinstance(seconds, bool) or not isinstance(seconds, (int, builtins.float)):
            raise TypeError(f"seconds must be a number, not {type(seconds).__name__}")
        if not (math.isfinite(seconds) and 0 <= seconds * 1e9 < 2.0 ** 64):
            raise _invalid(f"cannot advance by {seconds!r} seconds")
        _check(_lib.tav_sim_advance(self._live(), int(round(seconds * 1e9))), "advance")

    def write_vcd(self, path: Union[str, os.PathLike]) -> None:
        """Virtual boards: what the pins did, as a VCD file (sigrok, GTKWave)."""
        self._write_waveform(_lib.tav_sim_write_vcd, path)

    def write_svg(self, path: Union[str, os.PathLike]) -> None:
        """Virtual boards: what the pins did, as an SVG timing diagram."""
        self._write_waveform(_lib.tav_sim_write_svg, path)

    def _write_waveform(self, function, path) -> None:
        encoded = os.fsencode(path)
        if b"\0" in encoded:
            raise _invalid(f"the file name {os.fsdecode(encoded)!r} holds a NUL character")
        code = function(self._live(), encoded)
        if code == 4:  # the file could not be written: say why, as open() would
            with builtins.open(encoded, "ab"):
                pass
            raise OSError(errno.EIO, "cannot write the waveform", os.fsdecode(encoded))
        if code != _OK:
            raise self._failed(code, f"waveform to {os.fsdecode(encoded)!r}")

    # ---- board control ------------------------------------------------
    def init(self, value: int = 0) -> None:
        """Brings the board up: debug pins released, everything safe, start-up record."""
        self._driven.clear()
        code = _lib.tav_init(self._live(), _integer(value, "the start-up value", 0, 0xFFFFFFFF))
        if code != _OK:
            raise self._failed(code, "init")

    def safe(self) -> None:
        """Stops all PWM and makes every pin a floating input."""
        self._driven.clear()
        code = _lib.tav_safe(self._live())
        if code != _OK:
            raise self._failed(code, "safe")

    # ---- pins ---------------------------------------------------------
    def _pins(self, function, what: str, pins: Sequence[Pins], level=None) -> None:
        # The path of every pin call: names parsed once, no argument
        # conversion, words only on failure.
        if self._closed:
            raise TavError(_NOT_OPEN, "the board is closed")
        if not pins:
            raise _invalid(f"{what}: no pins given")
        handle = self._handle
        stores_level = function in _LEVEL_FUNCTIONS
        if not stores_level:
            self._driven.clear()
        for item in pins:
            arguments = _PIN_ARGUMENTS.get(item) if type(item) in _PIN_KEYS else None
            if arguments is None:
                arguments = _pin_arguments(item)
            for identifier in arguments:
                code = function(handle, identifier) if level is None else function(handle, identifier, level)
                if code:
                    raise self._failed(code, f"{what} {identifier.value:#010x}")
                if stores_level and identifier.value not in self._driven:
                    self._warn_if_not_driven(identifier.value)

    def _warn_if_not_driven(self, identifier: int) -> None:
        """A level stored for a pin that does not drive it is said on the
        tav logger, as tavctl says it (once per pin until a mode changes)."""
        undriven = []
        for single in _single_pins(identifier):
            state = self._pin_state(single)
            if not state.known:
                return
            if state.function == "debug_port":
                _LOGGER.warning("%s (%s) is held by the debug port, so this takes no effect on the pin: "
                                "call init() first", state.name, state.mcu_pin)
                return
            if state.level is None:
                undriven.append(state)
        if not undriven:
            self._driven.add(identifier)
        for state in undriven:
            _LOGGER.warning("%s (%s) is a %s, so the level is only stored, not driven: call output(%r) first",
                            state.name, state.mcu_pin, state.description, state.name)

    def output(self, *pins: Pins, drive: str = "push-pull") -> None:
        """Makes the pins outputs: push-pull, or with drive="open-drain"
        outputs that only pull low (set() lets the line float: a relay
        board's input, a line shared with others)."""
        if drive == "push-pull":
            self._pins(_PIN_OUTPUT, "output", pins)
        elif drive == "open-drain":
            self._pins(_PIN_OUTPUT_OPEN_DRAIN, "output (open drain)", pins)
        elif not isinstance(drive, str):
            raise TypeError(f"drive is 'push-pull' or 'open-drain', not {type(drive).__name__}")
        else:
            raise _invalid(f"drive {_shown(drive)}: 'push-pull' or 'open-drain'")

    def input(self, *pins: Pins, pull: Optional[str] = None) -> None:
        """Makes the pins inputs: floating, or with pull="up" or "down" the
        chip's pull resistor on (a button to ground needs "up")."""
        if pull is None:
            self._pins(_PIN_INPUT, "input", pins)
        elif isinstance(pull, str) and pull in _PULLS:
            self._pins(_PIN_INPUT_PULL, f"input (pull {pull})", pins, _PULLS[pull])
        elif not isinstance(pull, str):
            raise TypeError(f"pull is 'up', 'down' or None, not {type(pull).__name__}")
        else:
            raise _invalid(f"pull {_shown(pull)}: 'up', 'down' or None")

    def float(self, *pins: Pins) -> None:
        """Makes the pins floating inputs, as the safe state does."""
        self._pins(_PIN_FLOAT, "float", pins)

    def _one_pin_call(function, what: str, doc: str):  # noqa: N805 - builds methods of the class
        """set and reset: one pin of one bank seen before goes straight to
        the library, without the second frame of _pins."""
        def call(self, *pins: Pins) -> None:
            arguments = _PIN_ARGUMENTS.get(pins[0]) if len(pins) == 1 and type(pins[0]) in _PIN_KEYS else None
            if arguments is not None and len(arguments) == 1 and not self._closed:
                code = function(self._handle, arguments[0])
                if code:
                    raise self._failed(code, f"{what} {arguments[0].value:#010x}")
                if arguments[0].value not in self._driven:
                    self._warn_if_not_driven(arguments[0].value)
                return
            self._pins(function, what, pins)
        call.__name__ = what
        call.__qualname__ = "Board." + what
        call.__doc__ = doc
        return call

    set = _one_pin_call(_PIN_SET, "set", "Drives the pins high.")
    reset = _one_pin_call(_PIN_RESET, "reset", "Drives the pins low.")
    del _one_pin_call

    def write(self, pins: Pins, value: Union[bool, int, str]) -> None:
        """Drives the pins to a level: 1, True, 'high' or 'on'; 0, False, 'low' or 'off'."""
        self._pins(_PIN_WRITE, "write", [pins], _LEVEL_ARGUMENTS[_level(value)])

    def toggle(self, *pins: Pins) -> None:
        """Drives each output pin to the other level. Refused, with nothing
        sent, when a pin is no output or its level is not known to this
        board object."""
        if not pins:
            raise _invalid("toggle: no pins given")
        states = [self._pin_state(single) for item in pins for identifier in _pin_identifiers(item)
                  for single in _single_pins(identifier)]
        for state in states:
            if state.mcu_pin == "-":
                raise TavError(_PIN_UNAVAILABLE, f"toggle {state.name}: {strerror(_PIN_UNAVAILABLE)}")
            if not state.known:
                raise _invalid(f"the level of {state.name} is not known to this board object: set or reset it first")
            if state.level is None:
                raise _invalid(f"{state.name} is not an output ({state.description})")
        for state in states:  # each read again: a pin may be named twice
            function = _lib.tav_pin_reset if self._pin_state(state.identifier).level else _lib.tav_pin_set
            code = function(self._live(), state.identifier)
            if code != _OK:
                raise self._failed(code, f"toggle {state.name}")

    # ---- PWM ----------------------------------------------------------
    def pwm_start(self, group: str, divider: Optional[int] = None, duties: Iterable[Duty] = (),
                  hz: Optional[float] = None) -> float:
        """Sets up and starts group A (3 channels), B or C (4 channels), at
        2000 Hz / divider (1, 2, 4, ... 128; full scale 36000) or at any
        frequency hz (0.0168 Hz to 720 kHz: 50 for servos, 20000 for motors;
        the library chooses the time base with the most steps). Duties of
        channels 1, 2, ..., missing ones 0: counts of the full scale (with
        a divider counts of 36000: a bare number, 25 counts = 0.07 %; write
        "25%" for a percentage), or text like "7.5%". Returns the frequency
        reached."""
        letter = _group(group)
        if isinstance(duties, (str, bytes)) or not hasattr(duties, "__iter__"):
            raise TypeError(f"duties is a list of duties, not {type(duties).__name__}")
        duties = list(duties)
        self._driven.clear()
        _note_small_counts(duties)
        if hz is None:
            divider = 1 if divider is None else _integer(divider, "the divider", PWM_DIVIDERS[0], PWM_DIVIDERS[-1])
            _parsed(_lib.tav_parse_pwm_divider, str(divider), "a divider", ctypes.c_int())
            counts = [_duty_counts(duty) for duty in duties]
            array = (ctypes.c_uint32 * max(len(counts), 1))(*counts)
            code = _lib.tav_pwm_start(self._live(), letter, divider, array, len(counts))
            if code != _OK:
                raise self._failed(code, f"pwm_start {group!r} divider {divider} with {len(counts)} duties")
            return _PWM_BASE_HZ / divider
        if divider is not None:
            raise _invalid("pwm_start takes a divider or hz, not both")
        if isinstance(hz, bool) or not isinstance(hz, (int, builtins.float)):
            raise TypeError(f"hz must be a number, not {type(hz).__name__}")
        full_scale = ctypes.c_uint32()
        if _lib.tav_pwm_time_base(hz, None, ctypes.byref(full_scale), None) != _OK:
            raise _invalid(f"no PWM at {_shown(hz)} Hz: from 0.0168 Hz to 720 kHz")
        percents = [_duty_percent(duty, full_scale.value) for duty in duties]
        array = (ctypes.c_double * max(len(percents), 1))(*percents)
        reached = ctypes.c_double()
        code = _lib.tav_pwm_start_hz(self._live(), letter, hz, array, len(percents), ctypes.byref(reached))
        if code != _OK:
            raise self._failed(code, f"pwm_start {group!r} at {hz} Hz with {len(percents)} duties")
        return reached.value

    def pwm_set(self, group: str, channel: int, duty: Duty) -> None:
        """Changes one channel's duty (channels count from 1): counts of the
        group's full scale (with a divider counts of 36000:
        25 counts = 0.07 %; write "25%" for a percentage), or text like
        "50%"."""
        letter = _group(group)
        channel = _integer(channel, "the channel", 1, 4)
        _note_small_counts([duty])
        if isinstance(duty, str) and duty.endswith("%"):
            code = _lib.tav_pwm_set_percent(self._live(), letter, channel, _duty_percent(duty, 1))
        else:
            code = _lib.tav_pwm_set(self._live(), letter, channel, _duty_count(duty))
        if code != _OK:
            raise self._failed(code, f"pwm_set {group!r} channel {channel} to {_shown(duty)}")

    def pwm_pulse(self, group: str, channel: int, us: float) -> None:
        """One channel's high time in microseconds, in steps of the group's
        running frequency: a servo at 50 Hz takes 1000 to 2000 us."""
        letter = _group(group)
        channel = _integer(channel, "the channel", 1, 4)
        if isinstance(us, bool) or not isinstance(us, (int, builtins.float)):
            raise TypeError(f"us must be a number, not {type(us).__name__}")
        code = _lib.tav_pwm_set_pulse(self._live(), letter, channel, us)
        if code != _OK:
            raise self._failed(code, f"pwm_pulse {group!r} channel {channel} of {us} us (the group must run, "
                                     "the pulse fit its period)")

    def pwm_stop(self, group: Optional[str] = None) -> None:
        """Stops one group (its pins float; the others run on), or with no
        group all three."""
        self._driven.clear()
        if group is None:
            code = _lib.tav_pwm_stop(self._live())
        else:
            code = _lib.tav_pwm_stop_group(self._live(), _group(group))
        if code != _OK:
            raise self._failed(code, "pwm_stop" if group is None else f"pwm_stop {group!r}")

    # ---- raw records --------------------------------------------------
    def send_record(self, record: bytes) -> None:
        """Sends one record of your own (up to 64 bytes; the rest are zero)."""
        record = _record(record, "a record")
        if len(record) > _RECORD_SIZE:
            raise _invalid(f"a record is {_RECORD_SIZE} bytes, {len(record)} given")
        self._driven.clear()
        code = _lib.tav_send_record(self._live(), record.ljust(_RECORD_SIZE, b"\0"))
        if code != _OK:
            raise self._failed(code, "send_record")
