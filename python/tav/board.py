"""One open TAV board."""

from __future__ import annotations

import builtins
import ctypes
import errno
import logging
import math
import os
import threading
from typing import Any, Callable, Iterable, List, Optional, Sequence, Set, Union

from ._arguments import (Duty, Pins, _duty_count, _duty_counts, _duty_percent, _group, _integer, _level,
                         _note_small_counts, _parsed, _parsed_text, _PIN_ARGUMENTS, _pin_arguments,
                         _pin_identifiers, _PIN_KEYS, _record, _shown, _single_pins, _text)
from ._native import (_NO_CONNECTION_CALLBACK, _ConnectionCallback, _lib, _LEVEL_ARGUMENTS, _LEVEL_FUNCTIONS, _PIN_FLOAT, _PIN_INPUT,
                      _PIN_INPUT_PULL, _PIN_OUTPUT, _PIN_OUTPUT_OPEN_DRAIN, _PIN_RESET, _PIN_SET, _PIN_WRITE,
                      _PinStateStruct, _PULLS, _RECORD_SIZE)
from .errors import (_E_ACCESS, _E_INVALID, _E_NOT_FOUND, _ERRORS, _NOT_OPEN, _OK, _PIN_UNAVAILABLE, TavError,
                     _check, _error, _invalid, strerror)
from .facts import _BOARD_PINS, _MOST_CHANNELS, _PWM_BASE_HZ, PWM_DIVIDERS
from .sim import Sim
from .states import _PIN_FUNCTIONS, PinState, PwmState

_LOGGER = logging.getLogger("tav")


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
        _lib.tav_set_connection_callback(self._handle, _NO_CONNECTION_CALLBACK, None)

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
        function = _NO_CONNECTION_CALLBACK
        if callback is not None:
            told = callback
            function = _ConnectionCallback(lambda _board, connected, _user: told(bool(connected)))
        _check(_lib.tav_set_connection_callback(self._live(), function, None), "on_connection")
        self._connection_callback = function  # kept: the library calls it

    @property
    def closed(self) -> bool:
        return self._closed

    def __enter__(self) -> "Board":
        return self

    def __exit__(self, *exception: object) -> None:
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

    def _live(self) -> Optional[ctypes.c_void_p]:
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
        return str(_lib.tav_model(self._live()).decode())

    @property
    def queued(self) -> bool:
        """Whether each operation's records go out back to back on the bus
        (the default) rather than one transfer at a time ("sync:")."""
        code = _lib.tav_queued(self._live())
        if code < 0:
            raise self._failed(code, "queued")
        return bool(code)

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
        return [self._pin_state(pin) for pin in _BOARD_PINS]

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

    def write_vcd(self, path: Union[str, "os.PathLike[str]"]) -> None:
        """Virtual boards: what the pins did, as a VCD file (sigrok, GTKWave)."""
        self._write_waveform(_lib.tav_sim_write_vcd, path)

    def write_svg(self, path: Union[str, "os.PathLike[str]"]) -> None:
        """Virtual boards: what the pins did, as an SVG timing diagram."""
        self._write_waveform(_lib.tav_sim_write_svg, path)

    def _write_waveform(self, function: Callable[..., int], path: Union[str, "os.PathLike[str]"]) -> None:
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
    def _pins(self, function: Any, what: str, pins: Sequence[Pins], level: Optional[ctypes.c_int] = None) -> None:
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

    def _one_pin_call(function: Any, what: str, doc: str) -> Callable[..., None]:  # noqa: N805 - builds methods
        """set and reset: one pin of one bank seen before goes straight to
        the library, without the second frame of _pins."""
        def call(self: Board, *pins: Pins) -> None:
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
                  hz: Optional[builtins.float] = None) -> builtins.float:
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
        percent_array = (ctypes.c_double * max(len(percents), 1))(*percents)
        reached = ctypes.c_double()
        code = _lib.tav_pwm_start_hz(self._live(), letter, hz, percent_array, len(percents), ctypes.byref(reached))
        if code != _OK:
            raise self._failed(code, f"pwm_start {group!r} at {hz} Hz with {len(percents)} duties")
        return reached.value

    def pwm_set(self, group: str, channel: int, duty: Duty) -> None:
        """Changes one channel's duty (channels count from 1): counts of the
        group's full scale (with a divider counts of 36000:
        25 counts = 0.07 %; write "25%" for a percentage), or text like
        "50%"."""
        letter = _group(group)
        channel = _integer(channel, "the channel", 1, _MOST_CHANNELS)
        _note_small_counts([duty])
        if isinstance(duty, str) and duty.endswith("%"):
            code = _lib.tav_pwm_set_percent(self._live(), letter, channel, _duty_percent(duty, 1))
        else:
            code = _lib.tav_pwm_set(self._live(), letter, channel, _duty_count(duty))
        if code != _OK:
            raise self._failed(code, f"pwm_set {group!r} channel {channel} to {_shown(duty)}")

    def pwm_pulse(self, group: str, channel: int, us: builtins.float) -> None:
        """One channel's high time in microseconds, in steps of the group's
        running frequency: a servo at 50 Hz takes 1000 to 2000 us."""
        letter = _group(group)
        channel = _integer(channel, "the channel", 1, _MOST_CHANNELS)
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
