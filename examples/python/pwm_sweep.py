"""Sweeps the duty of group B, channel 1 (a motor, an LED) from 0 to 100 %."""
import time

import tav

with tav.open() as board:
    board.init()
    hz = board.pwm_start("B", hz=20000)  # above hearing, for a motor
    for percent in range(0, 101, 10):
        board.pwm_set("B", 1, f"{percent}%")
        time.sleep(0.05)
    pin = next(pin for pin in board.pins() if pin.pwm and pin.pwm.group == "B" and pin.pwm.channel == 1)
    print(f"swept group B channel 1 ({pin.name}) at {hz:g} Hz: {pin.description}")
