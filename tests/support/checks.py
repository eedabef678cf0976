"""The counting check() of the script tests (panel, waveforms): each check
prints "ok: NAME" or "FAIL: NAME DETAIL"; finish() prints "N passed, N failed"
and ends the script with its status."""

import sys

counts = {"passed": 0, "failed": 0}


def check(name, condition, detail=""):
    if condition:
        counts["passed"] += 1
        print(f"ok: {name}")
    else:
        counts["failed"] += 1
        print(f"FAIL: {name} {detail}")


def finish():
    print(f"{counts['passed']} passed, {counts['failed']} failed")
    sys.exit(0 if counts["failed"] == 0 else 1)
