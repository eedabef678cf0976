"""python3 -m tav [SELECTOR]: the board's model and firmware, and for a
virtual board ("sim:T") what its pins do."""

import sys

import tav


def main(arguments) -> int:
    selector = arguments[0] if arguments else ""
    try:
        with tav.open(selector) as board:
            print(f"model: {board.model}\nfirmware: {board.firmware}")
            if selector.startswith("sim:"):
                print(board.status(), end="")
            board.release()
    except tav.TavError as error:
        print(f"tav: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
