"""What a board's pins and a bus's devices are, as plain data."""

from __future__ import annotations

from dataclasses import dataclass
from typing import Optional

from ._native import _constant

# tav_pin_function's values, by the library: TAV_PIN_PULL_UP_INPUT is "pull_up_input".
_PIN_FUNCTIONS = {_constant("TAV_PIN_" + name.upper()): name
                  for name in ("debug_port", "analog_input", "floating_input", "pull_down_input", "pull_up_input",
                               "output_high", "output_low", "pwm", "not_driven")}


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
    queued: bool = False   # tav.open(selector) would queue its records (the default where its library can)


@dataclass(frozen=True)
class Event:
    """A TAV board arriving on the USB bus or leaving it (watch())."""
    kind: str        # "arrived" or "left"
    initial: bool    # one of the boards already there when watching began
    device: Device   # as list_boards() gives it, not opened: openable False, model None


