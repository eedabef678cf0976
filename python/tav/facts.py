"""The board's facts as the loaded library has them, and its version."""

from __future__ import annotations

import ctypes
from typing import List, Tuple

from ._native import _constant, _lib

PWM_FULL_SCALE: int = _lib.tav_pwm_full_scale()
"""Counter steps in one PWM period: a duty of full scale is always on."""
_PWM_BASE_HZ = _constant("TAV_PWM_BASE_HZ")


def _pwm_dividers() -> List[int]:
    dividers = (ctypes.c_int * _lib.tav_pwm_dividers(None, 0))()
    _lib.tav_pwm_dividers(dividers, len(dividers))
    return list(dividers)


PWM_DIVIDERS: Tuple[int, ...] = tuple(_pwm_dividers())
"""The dividers pwm_start takes, smallest first (2000 Hz / divider)."""


def version() -> str:
    """The version of the loaded libtav."""
    return str(_lib.tav_version().decode())


def _board_pins() -> Tuple[int, ...]:
    pins = (ctypes.c_uint32 * _lib.tav_board_pins(None, 0))()
    _lib.tav_board_pins(pins, len(pins))
    return tuple(pins)


_BOARD_PINS = _board_pins()
"""The 33 board pins' identifiers, P4.0 to P8.16."""


def _most_channels() -> int:
    letters = ctypes.create_string_buffer(_lib.tav_pwm_groups(None, 0) + 1)
    _lib.tav_pwm_groups(letters, len(letters))
    return max(int(_lib.tav_pwm_channel_count(bytes([letter]))) for letter in letters.value)


_MOST_CHANNELS = _most_channels()
"""The most channels a PWM group has (the library checks each group's own)."""
