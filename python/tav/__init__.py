"""Drive TAV USB input/output boards from Python.

A thin layer over libtav's C interface (``tav/tav.h``) through ctypes: no
compile step, standard library only.

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
process). Pins: names as tavctl takes them ("P4.0", "P8.16", ranges "P4.0-3",
lists "P4.0,P8.2") or identifiers (0x40000001). Duties: counter steps
(0-36000) or percentages ("25%").

Failures raise TavError (``.code``, ``.message``) or one of its subclasses.
Boards may be used from several threads; operations on one board never
interleave on the wire.
"""

from __future__ import annotations

import ctypes
import ctypes.util
import os
import sys
from typing import Iterable, List, Optional, Sequence, Union

__all__ = [
    "AccessError",
    "Board",
    "InvalidArgumentError",
    "NotFoundError",
    "NotVirtualError",
    "PWM_FULL_SCALE",
    "TavError",
    "describe_record",
    "open",
    "parse_pins",
    "strerror",
    "version",
]

PWM_FULL_SCALE = 36000
"""Counter steps in one PWM period: a duty of full scale is always on."""

_OK = 0
_E_INVALID = -1
_E_NOT_FOUND = -2
_E_ACCESS = -3
_E_NOT_VIRTUAL = -4

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


class _Board(ctypes.Structure):
    """The opaque tav_board."""


_BoardPointer = ctypes.POINTER(_Board)


def _declare(name: str, result, *arguments) -> None:
    function = getattr(_lib, name)
    function.restype = result
    function.argtypes = list(arguments)


_declare("tav_strerror", ctypes.c_char_p, ctypes.c_int)
_declare("tav_version", ctypes.c_char_p)
_declare("tav_open", ctypes.c_int, ctypes.c_char_p, ctypes.POINTER(_BoardPointer))
_declare("tav_close", None, _BoardPointer)
_declare("tav_release", None, _BoardPointer)
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
_declare("tav_sim_status", ctypes.c_int, _BoardPointer, ctypes.c_char_p, ctypes.c_size_t)
_declare("tav_sim_set_virtual_time", ctypes.c_int, _BoardPointer, ctypes.c_int)
_declare("tav_sim_advance", ctypes.c_int, _BoardPointer, ctypes.c_uint64)
_declare("tav_sim_write_vcd", ctypes.c_int, _BoardPointer, ctypes.c_char_p)
_declare("tav_sim_write_svg", ctypes.c_int, _BoardPointer, ctypes.c_char_p)


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


def _check(code: int, what: Optional[str] = None) -> None:
    if code != _OK:
        message = strerror(code) if what is None else f"{what}: {strerror(code)}"
        raise _ERRORS.get(code, TavError)(code, message)


def parse_pins(pins: Pins) -> List[int]:
    """Pin identifiers (one per bank) for a name, range, list or identifier."""
    if isinstance(pins, bool) or not isinstance(pins, (int, str)):
        raise InvalidArgumentError(_E_INVALID, f"pins must be a name or an identifier, not {pins!r}")
    if isinstance(pins, int):
        pins = str(pins)
    identifiers = (ctypes.c_uint32 * 2)()
    count = ctypes.c_size_t()
    reason = ctypes.create_string_buffer(256)
    code = _lib.tav_parse_pins(pins.encode(), identifiers, ctypes.byref(count), reason, len(reason))
    if code != _OK:
        raise InvalidArgumentError(code, reason.value.decode())
    return list(identifiers[: count.value])


def _duty_counts(duty: Duty) -> int:
    """Counter steps for a count (9000, "9000") or a percentage ("25%", "12.5%")."""
    if isinstance(duty, str) and duty.strip().endswith("%"):
        text = duty.strip()[:-1]
        try:
            percent = float(text)
        except ValueError:
            percent = -1.0
        if not 0.0 <= percent <= 100.0:
            raise InvalidArgumentError(_E_INVALID, f"duty {duty!r} is not a percentage from 0% to 100%")
        return int(percent / 100.0 * PWM_FULL_SCALE + 0.5)
    if isinstance(duty, str) and duty.strip().isdigit():
        duty = int(duty.strip())
    if isinstance(duty, bool) or not isinstance(duty, int) or not 0 <= duty <= PWM_FULL_SCALE:
        raise InvalidArgumentError(
            _E_INVALID, f"duty {duty!r} is neither a count from 0 to {PWM_FULL_SCALE} nor a percentage like '50%'")
    return duty


def _group(group: str) -> bytes:
    if not isinstance(group, str) or len(group) != 1:
        raise InvalidArgumentError(_E_INVALID, f"PWM group {group!r} does not exist: groups are A, B and C")
    return group.encode()


def describe_record(record: bytes) -> str:
    """A 64-byte record in words, as the board's firmware reads it."""
    record = bytes(record)
    if len(record) != 64:
        raise InvalidArgumentError(_E_INVALID, f"a record is 64 bytes, not {len(record)}")
    text = ctypes.create_string_buffer(512)
    _check(_lib.tav_describe_record(record, text, len(text)))
    return text.value.decode()


def open(selector: str = "") -> "Board":  # noqa: A001 - tav.open() is the natural name
    """Opens the board the selector names; see the module's documentation."""
    return Board(selector)


class Board:
    """One open TAV board. Close it (or leave its ``with`` block) to bring it
    into the safe state; ``release()`` lets go of it with outputs as they are."""

    def __init__(self, selector: str = ""):
        handle = _BoardPointer()
        if not isinstance(selector, str):
            raise InvalidArgumentError(_E_INVALID, f"a selector is text, not {selector!r}")
        code = _lib.tav_open(selector.encode(), ctypes.byref(handle))
        _check(code, f"cannot open {selector or 'the first board'!r}")
        self._handle: Optional[ctypes._Pointer] = handle
        self._selector = selector

    # ---- lifetime -----------------------------------------------------
    def close(self) -> None:
        """Safe state (debug port back, PWM off, every pin floating), then release. Idempotent."""
        if self._handle is not None:
            handle, self._handle = self._handle, None
            _lib.tav_close(handle)

    def release(self) -> None:
        """Lets go of the board without sending anything: outputs stay as set. Idempotent."""
        if self._handle is not None:
            handle, self._handle = self._handle, None
            _lib.tav_release(handle)

    @property
    def closed(self) -> bool:
        return self._handle is None

    def __enter__(self) -> "Board":
        return self

    def __exit__(self, *exception) -> None:
        self.close()

    def __del__(self) -> None:
        # A board forgotten without close() is released, never left claimed
        # (at interpreter exit the library may be gone already).
        try:
            if getattr(self, "_handle", None) is not None:
                self.release()
        except Exception:  # noqa: BLE001 - nothing can be reported from here
            pass

    def __repr__(self) -> str:
        state = "closed" if self.closed else f"model {self.model}, firmware {self.firmware}"
        return f"<tav.Board {self._selector or 'first board'!r}: {state}>"

    def _live(self):
        if self._handle is None:
            raise TavError(2, "the board is closed")
        return self._handle

    # ---- information --------------------------------------------------
    @property
    def model(self) -> str:
        """'T', 'S', 'C', or '?'."""
        return _lib.tav_model(self._live()).decode()

    @property
    def firmware(self) -> str:
        """The firmware version, e.g. '1.0.2.13'."""
        text = ctypes.create_string_buffer(64)
        _check(_lib.tav_firmware(self._live(), text, len(text)))
        return text.value.decode()

    def status(self) -> str:
        """What every pin does now (virtual boards only; NotVirtualError otherwise)."""
        text = ctypes.create_string_buffer(16384)
        _check(_lib.tav_sim_status(self._live(), text, len(text)))
        return text.value.decode()

    def use_virtual_time(self, enabled: bool = True) -> None:
        """Virtual boards: the clock that stamps records moves only by advance()
        (it restarts at 0); with False it follows real time again."""
        _check(_lib.tav_sim_set_virtual_time(self._live(), 1 if enabled else 0), "use_virtual_time")

    def advance(self, seconds: float) -> None:
        """Virtual boards in virtual time: moves the clock on."""
        if not seconds >= 0:
            raise InvalidArgumentError(_E_INVALID, f"cannot advance by {seconds!r} seconds")
        _check(_lib.tav_sim_advance(self._live(), int(round(seconds * 1e9))), "advance")

    def write_vcd(self, path: Union[str, os.PathLike]) -> None:
        """Virtual boards: what the pins did, as a VCD file (sigrok, GTKWave)."""
        _check(_lib.tav_sim_write_vcd(self._live(), os.fsencode(path)), f"write_vcd {os.fspath(path)!r}")

    def write_svg(self, path: Union[str, os.PathLike]) -> None:
        """Virtual boards: what the pins did, as an SVG timing diagram."""
        _check(_lib.tav_sim_write_svg(self._live(), os.fsencode(path)), f"write_svg {os.fspath(path)!r}")

    # ---- board control ------------------------------------------------
    def init(self, value: int = 0) -> None:
        """Brings the board up: debug pins released, everything safe, start-up record."""
        _check(_lib.tav_init(self._live(), value), "init")

    def safe(self) -> None:
        """Stops all PWM and makes every pin a floating input."""
        _check(_lib.tav_safe(self._live()), "safe")

    # ---- pins ---------------------------------------------------------
    def _pins(self, function, what: str, pins: Sequence[Pins], *extra) -> None:
        if not pins:
            raise InvalidArgumentError(_E_INVALID, f"{what}: no pins given")
        identifiers = [identifier for item in pins for identifier in parse_pins(item)]
        handle = self._live()
        for identifier in identifiers:
            _check(function(handle, identifier, *extra), f"{what} {identifier:#010x}")

    def output(self, *pins: Pins) -> None:
        """Makes the pins push-pull outputs."""
        self._pins(_lib.tav_pin_output, "output", pins)

    def input(self, *pins: Pins) -> None:
        """Makes the pins floating inputs."""
        self._pins(_lib.tav_pin_input, "input", pins)

    def float(self, *pins: Pins) -> None:
        """Makes the pins floating inputs, as the safe state does."""
        self._pins(_lib.tav_pin_float, "float", pins)

    def set(self, *pins: Pins) -> None:
        """Drives the pins high."""
        self._pins(_lib.tav_pin_set, "set", pins)

    def reset(self, *pins: Pins) -> None:
        """Drives the pins low."""
        self._pins(_lib.tav_pin_reset, "reset", pins)

    def write(self, pins: Pins, value: Union[bool, int]) -> None:
        """Drives the pins high for a true value, low otherwise."""
        self._pins(_lib.tav_pin_write, "write", [pins], 1 if value else 0)

    # ---- PWM ----------------------------------------------------------
    def pwm_start(self, group: str, divider: int = 1, duties: Iterable[Duty] = ()) -> None:
        """Sets up and starts group A (3 channels), B or C (4 channels) at
        2000 Hz / divider (1, 2, 4, ... 128); duties of channels 1, 2, ...,
        missing ones 0."""
        counts = [_duty_counts(duty) for duty in duties]
        array = (ctypes.c_uint32 * max(len(counts), 1))(*counts)
        code = _lib.tav_pwm_start(self._live(), _group(group), divider, array, len(counts))
        _check(code, f"pwm_start {group!r} divider {divider} with {len(counts)} duties")

    def pwm_set(self, group: str, channel: int, duty: Duty) -> None:
        """Changes one channel's duty (channels count from 1)."""
        code = _lib.tav_pwm_set(self._live(), _group(group), channel, _duty_counts(duty))
        _check(code, f"pwm_set {group!r} channel {channel}")

    def pwm_stop(self) -> None:
        """Stops all three groups and floats their pins."""
        _check(_lib.tav_pwm_stop(self._live()), "pwm_stop")

    # ---- raw records --------------------------------------------------
    def send_record(self, record: bytes) -> None:
        """Sends one record of your own (up to 64 bytes; the rest are zero)."""
        record = bytes(record)
        if len(record) > 64:
            raise InvalidArgumentError(_E_INVALID, f"a record is 64 bytes, {len(record)} given")
        _check(_lib.tav_send_record(self._live(), record.ljust(64, b"\0")), "send_record")
