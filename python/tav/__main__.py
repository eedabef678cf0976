"""python3 -m tav [SELECTOR]: the board's model and firmware, and for a
virtual board ("sim:T") what its pins do."""

import argparse
import os
import sys
from typing import List

import tav


def main(arguments: List[str]) -> int:
    parser = argparse.ArgumentParser(
        prog="python3 -m tav",
        description="Shows a TAV board's model and firmware, and for a virtual board what its pins do. "
                    "The board is let go as it is (nothing is sent).",
        epilog='Selectors: "" (the first board), usb:BUS:DEV (as `tavctl list` shows them), sim:T, sim:S, sim:C; '
               'any of them after sync: for one transfer at a time (queued is the default).')
    parser.add_argument("selector", nargs="?", default="", help="which board (default: the first one)")
    parser.add_argument("--version", action="version", version=f"tav {tav.version()}")
    selector = parser.parse_args(arguments).selector
    try:
        board = tav.open(selector)
        try:
            print(f"model: {board.model}\nfirmware: {board.firmware}")
            try:
                print(board.status(), end="")
            except tav.NotVirtualError:
                pass  # a real board: its pins cannot be read back
            sys.stdout.flush()
        finally:
            board.release()
    except tav.TavError as error:
        print(f"tav: {error}", file=sys.stderr)
        return 1
    except BrokenPipeError:
        # The reader went away (| head): no traceback, and none at exit either.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return 0
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
