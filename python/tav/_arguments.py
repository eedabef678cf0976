"""A caller's arguments read as tavctl reads them, by the library's own
readers: pins, levels, PWM groups, dividers and duties, records."""

from __future__ import annotations

import builtins
import ctypes
import functools
import logging
from typing import Any, Callable, Dict, List, Sequence, Tuple, Union

from ._native import _lib
from .errors import _OK, _invalid
from .facts import _BOARD_PINS, PWM_FULL_SCALE

Pins = Union[str, int]
Duty = Union[str, int]

_LOGGER = logging.getLogger("tav")


def _shown(value: object) -> str:
    """A caller's value in a message: long text and huge numbers cut short."""
    if isinstance(value, int) and not isinstance(value, bool) and value.bit_length() > 64:
        return f"{'-' if value < 0 else ''}(a {value.bit_length()}-bit number)"
    if isinstance(value, str) and len(value) > 40:
        return f"{value[:40]!r}... ({len(value)} characters)"
    return repr(value) if isinstance(value, str) else str(value)


def _text(value: object, what: str) -> bytes:
    """Text for the C interface: a str without NUL, as UTF-8."""
    if not isinstance(value, str):
        raise TypeError(f"{what} must be text, not {type(value).__name__}")
    if "\0" in value:
        raise _invalid(f"{what} {_shown(value)} holds a NUL character")
    try:
        return value.encode()
    except UnicodeEncodeError as problem:
        raise _invalid(f"{what} {_shown(value)} is not valid text ({problem.reason})") from None


def _integer(value: object, what: str, low: int, high: int) -> int:
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


_PIN_ARGUMENTS: Dict[Pins, Tuple[ctypes.c_uint32, ...]] = {}  # pin text or identifier -> its identifiers as c_uint32, for the pin calls
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
    """The board pins a bank identifier names, in order."""
    return [pin for pin in _BOARD_PINS if identifier & pin == pin]


def _parsed_text(check: Callable[..., int], text: bytes) -> None:
    """A text the library checks, with its reason when it refuses it."""
    reason = ctypes.create_string_buffer(512)
    if check(text, reason, len(reason)) != _OK:
        raise _invalid(reason.value.decode(errors="replace"))


def _parsed(parse: Callable[..., int], text: str, what: str, result: Any) -> Any:
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
        return int(_parsed(_lib.tav_parse_duty, duty, "a duty", ctypes.c_uint32()))
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
    return bytes(_parsed(_lib.tav_parse_pwm_group, group, "a PWM group", ctypes.c_char()))


def _level(value: object) -> int:
    """1 or 0 for True, False, 1, 0, or a level word as tavctl takes it."""
    if isinstance(value, (bool, int)) and value in (0, 1):
        return int(value)
    if isinstance(value, str):
        level = ctypes.c_int()
        if "\0" not in value and _lib.tav_parse_level(value.encode(errors="replace"), ctypes.byref(level), None, 0) == _OK:
            return level.value
    if isinstance(value, (bool, int, str)):
        raise _invalid(f"level {_shown(value)} is not 0, 1, True, False, 'high', 'low', 'on' or 'off'")
    raise TypeError(f"a level is 0, 1, True, False or a word like 'high', not {type(value).__name__}")


def _record(record: object, what: str) -> bytes:
    if isinstance(record, str) or not isinstance(record, (bytes, bytearray, memoryview)):
        raise TypeError(f"{what} must be bytes, not {type(record).__name__}")
    return bytes(record)


