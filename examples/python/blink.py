"""Blinks an LED on P4.8 three times. TAV_DEVICE=sim:T runs it on a virtual board."""
import time

import tav

with tav.open() as board:  # the first board, or the one TAV_DEVICE names
    board.init()
    board.output("P4.8")
    for _ in range(6):
        board.toggle("P4.8")
        time.sleep(0.1)
    print("blinked P4.8 on board model", board.model)
