#!/usr/bin/env python3
"""TAV_TRACE=FILE as its users meet it: a C program on the real USB path (a
board that umockdev emulates), Python and tavctl on virtual boards; the VCDs
read by sigrok-cli's PWM decoder, record logs replayed onto virtual boards,
bad logs refused, and the log's cap.

    tests/trace_test.py TAVCTL [EMULATED_RUN TRACE_PROGRAM]
    (the Python part needs TAV_LIBRARY and PYTHONPATH as the Python tests have them)
"""

import os
import statistics
import subprocess
import sys
import tempfile
import textwrap

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "support"))
from checks import check, finish  # noqa: E402
from vcd import sigrok, vcd_changes  # noqa: E402

TAVCTL = sys.argv[1]
EMULATED_RUN = sys.argv[2] if len(sys.argv) > 3 else None
TRACE_PROGRAM = sys.argv[3] if len(sys.argv) > 3 else None


def run(command, trace=None, device=None, **options):
    environment = dict(os.environ)
    environment.pop("TAV_TRACE", None)
    environment.pop("TAV_DEVICE", None)
    if trace:
        environment["TAV_TRACE"] = trace
    if device:
        environment["TAV_DEVICE"] = device
    return subprocess.run(command, env=environment, capture_output=True, text=True, timeout=120, **options)


def pwm_wires(vcd):
    """{wire: (hz, duty %)} of every wire sigrok decodes as PWM."""
    found = {}
    for wire, changes in vcd_changes(vcd).items():
        if len(changes) < 10:
            continue
        duties, periods = sigrok(vcd, wire, "duty-cycle"), sigrok(vcd, wire, "period")
        if duties and periods:
            found[wire] = (round(1 / statistics.median(periods), 1), round(statistics.median(duties), 1))
    return found


def record_lines(path):
    with open(path) as file:
        return [line for line in file if line[:1].isdigit()]


with tempfile.TemporaryDirectory() as work:
    # The same program, unchanged, on a virtual board that TAV_DEVICE names:
    # it leaves the same waveform without any board.
    if TRACE_PROGRAM:
        vcd = os.path.join(work, "device.vcd")
        finished = run([TRACE_PROGRAM], trace=vcd, device="sim:S")
        check("TAV_DEVICE=sim:S runs an unchanged program on a virtual board", finished.returncode == 0,
              finished.stderr)
        wires = pwm_wires(vcd) if os.path.exists(vcd) else {}
        check("TAV_DEVICE with TAV_TRACE: sigrok decodes the commanded PWM (1000 Hz, 25 % and 75 %)",
              sorted(wires.values()) == [(1000.0, 25.0), (1000.0, 75.0)], str(wires))

    # A C program on the real libusb path: the VCD shows what it commanded.
    if EMULATED_RUN and TRACE_PROGRAM:
        vcd = os.path.join(work, "c.vcd")
        finished = run([EMULATED_RUN, "--", TRACE_PROGRAM], trace=vcd)
        check("C program on a real-path board runs with TAV_TRACE", finished.returncode == 0, finished.stderr)
        wires = pwm_wires(vcd) if os.path.exists(vcd) else {}
        check("C program: sigrok decodes the commanded PWM (1000 Hz, 25 % and 75 %)",
              sorted(wires.values()) == [(1000.0, 25.0), (1000.0, 75.0)], str(wires))
        edges = vcd_changes(vcd).get("P4_8_PB8", []) if os.path.exists(vcd) else []
        check("C program: P4.8 goes high, then floats at close", [value for _, value in edges][-2:] == ["1", "z"],
              str(edges))
        # A program that exits without closing its board: written at exit.
        vcd = os.path.join(work, "open.vcd")
        finished = run([TRACE_PROGRAM, "sim:T", "--exit-open"], trace=vcd)
        wires = pwm_wires(vcd) if os.path.exists(vcd) else {}
        check("C program that exits with its board open: the trace is written at exit",
              finished.returncode == 0 and sorted(wires.values()) == [(1000.0, 25.0), (1000.0, 75.0)], str(wires))
        # The same program's record log, replayed onto a virtual board.
        log = os.path.join(work, "c.tavtrace")
        run([EMULATED_RUN, "--", TRACE_PROGRAM], trace=log)
        replayed = run([TAVCTL, "--sim", "--trace", "replay", log])
        check("C program's log replays onto a virtual board", replayed.returncode == 0
              and f"replayed {len(record_lines(log))} records" in replayed.stdout, replayed.stdout + replayed.stderr)

    # tavctl on a virtual board: the trace's VCD is the board's own --vcd, and
    # its record log replayed onto another virtual board gives the same state
    # and the same waveform.
    script = os.path.join(work, "session.tav")
    with open(script, "w") as file:
        file.write("init\npin output P4.8\npin set P4.8\nsleep 10ms\npwm start B --div 2 --duty 25%,50%\n"
                   "sleep 20ms\npwm set B 2 10%\nsleep 10ms\npin reset P4.8\nsleep 5ms\nstatus\n")
    traced_vcd, own_vcd = os.path.join(work, "traced.vcd"), os.path.join(work, "own.vcd")
    run([TAVCTL, "--sim=S", "--virtual-time", "--vcd", own_vcd, "run", script], trace=traced_vcd)
    check("tavctl: the trace's VCD is the virtual board's own", open(traced_vcd).read() == open(own_vcd).read())
    log, replay_vcd = os.path.join(work, "session.tavtrace"), os.path.join(work, "replay.vcd")
    session = run([TAVCTL, "--sim=S", "--virtual-time", "--vcd", own_vcd, "run", script], trace=log)
    replayed = run([TAVCTL, "--sim=S", "--vcd", replay_vcd, "replay", log])
    def state_of(text):
        return [line for line in text.splitlines() if line.startswith("  P")]
    check("replay: the same state as the session", len(state_of(session.stdout)) > 33
          and state_of(replayed.stdout) == state_of(session.stdout), replayed.stdout[-300:] + replayed.stderr)
    check("replay: the same waveform as the session", open(replay_vcd).read() == open(own_vcd).read())
    check("replay: sigrok decodes the session's PWM", sorted(pwm_wires(replay_vcd).values())
          == [(1000.0, 25.0), (1000.0, 50.0)], str(pwm_wires(replay_vcd)))
    decoded = run([TAVCTL, "decode", "--file", log])
    check("decode --file reads a record log", decoded.returncode == 0
          and "0.010000000 out TIM_Cmd(TIM2, ENABLE)" in decoded.stdout, decoded.stdout[-300:] + decoded.stderr)
    fast = run([TAVCTL, "--sim=S", "replay", "--fast", log])
    check("replay --fast", fast.returncode == 0 and "at full speed" in fast.stdout, fast.stderr)

    # A trace that cannot be written: the program runs on, and one line says why.
    unwritable = run([TAVCTL, "--sim", "pin", "output", "P4.0"], trace=os.path.join(work, "no", "such", "x.vcd"))
    check("a trace file that cannot be made is said, and the program runs on", unwritable.returncode == 0
          and unwritable.stderr.startswith("libtav: TAV_TRACE: cannot write ") and unwritable.stderr.count("\n") == 1,
          unwritable.stderr)

    # Bad logs: refused with the line, and nothing is sent.
    good = open(log).read().splitlines(keepends=True)
    first_record = next(index for index, line in enumerate(good) if line[:1].isdigit())
    broken = {
        "truncated line": good[first_record][:60] + "\n",
        "bad hex": good[first_record].replace(" out 1a", " out zz", 1),
        "unknown direction": good[first_record].replace(" out ", " sideways ", 1),
        "time going back": "9.000000000" + good[first_record][good[first_record].index(" "):],
    }
    for name, bad_line in broken.items():
        bad = os.path.join(work, "bad.tavtrace")
        lines = good[:first_record + 3] + [bad_line] + good[first_record + 3:]
        if name == "time going back":
            lines = good[:first_record] + [bad_line] + good[first_record:]
        with open(bad, "w") as file:
            file.writelines(lines)
        line_number = lines.index(bad_line) + 1 + (1 if name == "time going back" else 0)
        refused = run([TAVCTL, "--sim", "--trace", "replay", bad])
        check(f"a bad log is refused: {name}", refused.returncode == 2
              and f"bad.tavtrace line {line_number}: " in refused.stderr and "> " not in refused.stderr
              and refused.stdout == "", f"{refused.returncode} {refused.stderr!r}")
    with open(os.path.join(work, "plain.txt"), "w") as file:
        file.write("0.0 out 00\n")
    refused = run([TAVCTL, "--sim", "replay", os.path.join(work, "plain.txt")])
    check("a file that is no record log is refused", refused.returncode == 2 and "line 1: not a record log"
          in refused.stderr, refused.stderr)

    # Python: two boards in one process get a file each; a board the program
    # never closes is written at its normal exit; the log caps at 100,000.
    if os.environ.get("TAV_LIBRARY"):
        program = textwrap.dedent("""
            import tav
            first, second = tav.open("sim:T"), tav.open("sim:C")
            first.use_virtual_time()
            first.init()
            first.pwm_start("A", divider=4, duties=["40%"])
            first.advance(0.02)
            second.init()
            second.close()
            # first is never closed: the trace is written as the program exits
        """)
        python_vcd = os.path.join(work, "python.vcd")
        finished = run([sys.executable, "-c", program], trace=python_vcd)
        second_vcd = os.path.join(work, "python-2.vcd")
        check("Python runs with TAV_TRACE", finished.returncode == 0, finished.stderr)
        check("Python: the second board's trace is FILE-2.vcd", os.path.exists(second_vcd))
        check("Python: the board left open is written at exit; sigrok decodes its PWM",
              os.path.exists(python_vcd) and list(pwm_wires(python_vcd).values()) == [(500.0, 40.0)],
              str(pwm_wires(python_vcd)) if os.path.exists(python_vcd) else "no file")
        capped = os.path.join(work, "capped.tavtrace")
        program = textwrap.dedent("""
            import tav
            with tav.open("sim:T") as board:
                for _ in range(50_002):
                    board.set("P4.8")
                    board.reset("P4.8")
        """)
        finished = run([sys.executable, "-c", program], trace=capped)
        with open(capped) as file:
            lines = file.read().splitlines()
        check("the record log stops at 100,000 records and says so", finished.returncode == 0
              and len([line for line in lines if line[:1].isdigit()]) == 100000
              and "# the log stops here: it holds at most 100000 records" in lines
              and lines[-1].endswith(": 100064 records, the first 100000 of them logged"), str(lines[-2:]))

finish()
