"""A board that heals: "reattach:" finds it again after it was unplugged and
sends what the program had set. On a virtual board it unplugs and plugs the
board itself; on a real one, unplug it and plug it back within a minute."""
import threading
import time

import tav

back = threading.Event()


def on_event(event):
    print(event.kind, event.device.selector or event.device.port)


with tav.watch(on_event, interval=0.05), tav.open("reattach:") as board:
    board.on_connection(lambda up: (print("board", "back: restored" if up else "left"), up and back.set()))
    board.init()
    board.output("P4.8")
    board.set("P4.8")
    try:
        time.sleep(0.3)  # the watcher's first look
        board.sim.unplug()  # a virtual board: the test a program can make of itself
        time.sleep(0.3)
        board.sim.plug()
    except tav.NotVirtualError:
        print("unplug the board and plug it back")
    if back.wait(60):
        print("P4.8 after the replug:", board.pin("P4.8").description)
    time.sleep(0.3)  # the watcher's next look
