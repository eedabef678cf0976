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
