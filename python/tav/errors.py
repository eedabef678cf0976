"""What goes wrong: the library's result codes, and the exceptions that
carry them."""

from __future__ import annotations

import enum
from typing import Dict, Optional, Type, Union

from ._native import _constant, _lib


class Result(enum.IntEnum):
    """The library's result codes (tav.h's names without their ``TAV_`` prefix),
    with the values the loaded library gives them."""
    OK = _constant("TAV_OK")
    NOT_OPEN = _constant("TAV_NOT_OPEN")
    IO_FAILED = _constant("TAV_IO_FAILED")
    BAD_PIN = _constant("TAV_BAD_PIN")
    PIN_UNAVAILABLE = _constant("TAV_PIN_UNAVAILABLE")
    E_INVALID = _constant("TAV_E_INVALID")
    E_NOT_FOUND = _constant("TAV_E_NOT_FOUND")
    E_ACCESS = _constant("TAV_E_ACCESS")
    E_NOT_VIRTUAL = _constant("TAV_E_NOT_VIRTUAL")


_OK = Result.OK
_NOT_OPEN = Result.NOT_OPEN
_PIN_UNAVAILABLE = Result.PIN_UNAVAILABLE
_E_INVALID = Result.E_INVALID
_E_NOT_FOUND = Result.E_NOT_FOUND
_E_ACCESS = Result.E_ACCESS
_E_NOT_VIRTUAL = Result.E_NOT_VIRTUAL


def strerror(code: int) -> str:
    """The library's words for a result code."""
    return str(_lib.tav_strerror(code).decode())


class TavError(Exception):
    """A call into libtav failed: ``code`` is its result, ``message`` its words."""

    def __init__(self, code: int, message: Optional[str] = None):
        self.code: Union[Result, int] = _result(code)
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


def _result(code: int) -> Union[Result, int]:
    """A Result where the code is one, the number otherwise."""
    try:
        return Result(code)
    except ValueError:
        return code


_ERRORS: Dict[int, Type[TavError]] = {
    _E_INVALID: InvalidArgumentError,
    _E_NOT_FOUND: NotFoundError,
    _E_ACCESS: AccessError,
    _E_NOT_VIRTUAL: NotVirtualError,
}


def _error(code: int, what: Optional[str] = None) -> TavError:
    message = strerror(code) if what is None else f"{what}: {strerror(code)}"
    error: TavError = _ERRORS.get(code, TavError)(code, message)
    return error


def _check(code: int, what: Optional[str] = None) -> None:
    if code != _OK:
        raise _error(code, what)


def _invalid(message: str) -> InvalidArgumentError:
    return InvalidArgumentError(_E_INVALID, message)


