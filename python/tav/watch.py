"""Boards on the USB bus: listed now, or watched as they arrive and leave."""

from __future__ import annotations

import ctypes
import queue
from typing import Any, Callable, List, Optional

from ._native import _DeviceStruct, _lib, _WatchCallback
from .errors import _OK, _check, _invalid
from .states import Device, Event


def _device_of(entry: _DeviceStruct) -> Device:
    return Device(entry.selector.decode(), entry.bus, entry.device, entry.vendor, entry.product, bool(entry.board),
                  bool(entry.openable), entry.model.decode() if entry.model != b"\0" else None,
                  entry.library.decode(), entry.port.decode(), bool(entry.queued))


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

    def _deliver(self, event: Any, _user: Optional[int]) -> None:
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
        if not isinstance(happened, Event):  # the end
            self._events.put(Watch._END)
            return None
        return happened

    def __enter__(self) -> "Watch":
        return self

    def __exit__(self, *_exception: object) -> None:
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


