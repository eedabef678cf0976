"""libtav itself: where it is found and loaded, the C interface's functions
and structures as ctypes declares them, and its log forwarded to the
``tav`` logger. Private to the package: the other modules call the library
through what this one declares."""

from __future__ import annotations

import ctypes
import ctypes.util
import logging
import os
import sys
from typing import Any, List, Mapping, Optional

def _library_name(platform: Optional[str] = None) -> str:
    """libtav's file name: tav.dll on Windows, libtav.so.1 elsewhere."""
    platform = sys.platform if platform is None else platform
    return "tav.dll" if platform.startswith(("win32", "cygwin", "msys")) else "libtav.so.1"


def _library_candidates(platform: Optional[str] = None, environ: Optional[Mapping[str, str]] = None) -> List[str]:
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
        from tav._install import LIBRARY  # type: ignore[import]  # written by cmake --install
        candidates.append(str(LIBRARY))
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


def _declare(name: str, result: Any, *arguments: Any) -> None:
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


_RECORD_SIZE = _constant("TAV_RECORD_SIZE")

_declare("tav_strerror", ctypes.c_char_p, ctypes.c_int)
_declare("tav_pwm_full_scale", ctypes.c_uint32)

_PWM_BASE_HZ = _constant("TAV_PWM_BASE_HZ")

_declare("tav_version", ctypes.c_char_p)
_ConnectionCallback = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.c_int, ctypes.c_void_p)
_NO_CONNECTION_CALLBACK = _ConnectionCallback()  # type: ignore[call-overload]  # NULL: none

# The library's log (why an open, a claim or a transfer failed, and its debug
# lines) goes to logging.getLogger("tav"): configure logging to see it.
_LOGGER = logging.getLogger("tav")
_LOG_LEVELS = {1: logging.ERROR, 2: logging.WARNING, 3: logging.INFO, 4: logging.DEBUG}
_LogCallback = ctypes.CFUNCTYPE(None, ctypes.c_int, ctypes.c_char_p, ctypes.c_void_p)


def _log_line(level: int, text: bytes, _user: Optional[int]) -> None:
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
_declare("tav_queued", ctypes.c_int, _BoardPointer)
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
_declare("tav_pwm_groups", ctypes.c_int, ctypes.c_char_p, ctypes.c_size_t)
_declare("tav_pwm_channel_count", ctypes.c_int, ctypes.c_char)
_declare("tav_board_pins", ctypes.c_int, ctypes.POINTER(ctypes.c_uint32), ctypes.c_size_t)
_declare("tav_parse_level", ctypes.c_int, ctypes.c_char_p, ctypes.POINTER(ctypes.c_int), ctypes.c_char_p,
         ctypes.c_size_t)
_declare("tav_pin_state_group", ctypes.c_int, ctypes.c_void_p, ctypes.POINTER(ctypes.c_char),
         ctypes.POINTER(ctypes.c_int))


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


def _unchecked(name: str) -> Any:
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

class _DeviceStruct(ctypes.Structure):
    """tav_device."""
    _fields_ = [("selector", ctypes.c_char * 24), ("bus", ctypes.c_uint), ("device", ctypes.c_uint),
                ("vendor", ctypes.c_uint16), ("product", ctypes.c_uint16), ("board", ctypes.c_int),
                ("openable", ctypes.c_int), ("model", ctypes.c_char), ("library", ctypes.c_char * 16),
                ("port", ctypes.c_char * 32), ("queued", ctypes.c_int)]


_declare("tav_list_sized", ctypes.c_int, ctypes.POINTER(_DeviceStruct), ctypes.c_size_t, ctypes.c_int,
         ctypes.c_size_t)


class _EventStruct(ctypes.Structure):
    """tav_event."""
    _fields_ = [("kind", ctypes.c_int), ("initial", ctypes.c_int), ("device", ctypes.POINTER(_DeviceStruct))]


_WatchCallback = ctypes.CFUNCTYPE(None, ctypes.POINTER(_EventStruct), ctypes.c_void_p)
_declare("tav_watch", ctypes.c_int, _WatchCallback, ctypes.c_void_p, ctypes.c_uint, ctypes.POINTER(ctypes.c_void_p))
_declare("tav_unwatch", None, ctypes.c_void_p)


