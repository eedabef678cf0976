#!/usr/bin/env python3
"""TAV_TRACE=FILE as its users meet it: a C program on the real USB path (a
board that umockdev emulates), Python and tavctl on virtual boards; the VCDs
read by sigrok-cli's PWM decoder, record logs replayed onto virtual boards,
bad logs refused, and the log's cap.

    tests/trace_test.py TAVCTL [EMULATED_RUN TRACE_PROGRAM]
    (the Python part needs TAV_LIBRARY and PYTHONPATH as the Python tests have them)
"""

import os
import resource
import signal
import statistics
import subprocess
import sys
import tempfile
import textwrap
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "support"))
from checks import check, finish  # noqa: E402
from vcd import sigrok, vcd_changes  # noqa: E402

TAVCTL = sys.argv[1]
EMULATED_RUN = sys.argv[2] if len(sys.argv) > 3 else None
TRACE_PROGRAM = sys.argv[3] if len(sys.argv) > 3 else None


def run(command, trace=None, device=None, timeout=120, **options):
    environment = dict(os.environ)
    environment.pop("TAV_TRACE", None)
    environment.pop("TAV_DEVICE", None)
    if trace:
        environment["TAV_TRACE"] = trace
    if device:
        environment["TAV_DEVICE"] = device
    return subprocess.run(command, env=environment, capture_output=True, text=True, timeout=timeout, **options)


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
    fast_vcd = os.path.join(work, "fast.vcd")
    fast = run([TAVCTL, "--sim=S", "--vcd", fast_vcd, "replay", "--fast", log])
    check("replay --fast", fast.returncode == 0 and "at full speed" in fast.stdout, fast.stderr)
    # Back to back on the board's own real clock, not on the recorded one
    # (which would stand still between records: every change at one moment).
    moments = {line for line in open(fast_vcd).read().splitlines() if line.startswith("#")}
    check("replay --fast on a virtual board runs on real time", len(moments) > 3, str(sorted(moments)[:5]))

    # A trace that cannot be written: the program runs on, and one line says why.
    unwritable = run([TAVCTL, "--sim", "pin", "output", "P4.0"], trace=os.path.join(work, "no", "such", "x.vcd"))
    check("a trace file that cannot be made is said, and the program runs on", unwritable.returncode == 0
          and unwritable.stderr.startswith("libtav: TAV_TRACE: cannot write ") and unwritable.stderr.count("\n") == 1,
          unwritable.stderr)

    # What a trace must not do: wait for a FIFO's reader, write into a
    # device, lose a trace without a word, or share a file with another
    # process.
    fifo = os.path.join(work, "fifo")
    os.mkfifo(fifo)
    for target in [fifo, "/dev/full"]:
        refused = run([TAVCTL, "--sim", "pin", "output", "P4.0"], trace=target, timeout=20)
        check(f"TAV_TRACE={target} is refused in one line, and the program runs on", refused.returncode == 0
              and refused.stderr == f"libtav: TAV_TRACE: cannot write {target}: it is not a regular file or a terminal\n",
              refused.stderr)

    def small_file_limit():
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        resource.setrlimit(resource.RLIMIT_FSIZE, (3000, 3000))
    full = run([TAVCTL, "--sim", "init"], trace=os.path.join(work, "full.tavtrace"), preexec_fn=small_file_limit)
    check("a trace that cannot be written on is said once, and the program runs on", full.returncode == 0
          and full.stderr.count("libtav: TAV_TRACE: writing ") == 1 and "File too large" in full.stderr, full.stderr)

    shared = os.path.join(work, "shared.tavtrace")
    holding = os.path.join(work, "holding.tav")
    with open(holding, "w") as file:
        file.write("init\nsleep 3s\npin output P4.8\n")
    holder = subprocess.Popen([TAVCTL, "--sim", "run", holding], stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL, env=dict(os.environ, TAV_TRACE=shared))
    try:
        for _ in range(200):
            if os.path.exists(shared) and os.path.getsize(shared) > 0:
                break
            time.sleep(0.05)
        second = run([TAVCTL, "--sim", "init"], trace=shared)
        own = os.path.join(work, f"shared-pid{second.stderr.split('-pid')[-1].split('.')[0]}.tavtrace")
        check("a second process with the same TAV_TRACE writes a file of its own and says so",
              second.returncode == 0 and "shared.tavtrace is another process's trace; this one writes " in second.stderr
              and os.path.exists(own) and run([TAVCTL, "decode", "--file", own]).returncode == 0, second.stderr)
    finally:
        holder.wait(timeout=60)
    check("... and the first process's log is whole", run([TAVCTL, "decode", "--file", shared]).returncode == 0
          and "0 records" not in open(shared).read().splitlines()[-1], open(shared).read()[-200:])

    # Bad logs: refused with the line, and nothing is sent.
    good = open(log).read().splitlines(keepends=True)
    first_record = next(index for index, line in enumerate(good) if line[:1].isdigit())
    broken = {
        "truncated line": good[first_record][:60] + "\n",
        "bad hex": good[first_record].replace(" out 1a", " out zz", 1),
        "unknown direction": good[first_record].replace(" out ", " sideways ", 1),
        "time going back": "9.000000000" + good[first_record][good[first_record].index(" "):],
        "an 11-digit time": "12345678901" + good[first_record][good[first_record].index("."):],
        "a fraction of 10 digits": good[first_record].replace(".", ".0", 1).replace(" ", "0 ", 1),
        "garbage after the bytes": good[first_record].replace(" #", " 00 #", 1),
        "a megabyte line": "\x01" + "x" * 1000000 + "\n",
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
        if name == "bad hex":
            check("bad hex names the digit", "'z' in the record's bytes is not a hex digit" in refused.stderr,
                  refused.stderr)
        check(f"a bad log is refused: {name}", refused.returncode == 2
              and f"bad.tavtrace line {line_number}: " in refused.stderr and "> " not in refused.stderr
              and refused.stdout == "" and len(refused.stderr) < 400, f"{refused.returncode} {refused.stderr[:400]!r}")
    check("a bad line is quoted short, its control bytes escaped",
          "'\\x01xxxxxxx" in refused.stderr and "...' (1000001 characters)" in refused.stderr, refused.stderr[:400])
    # Lines a replay reads as they are meant: CR LF endings, and a reply
    # (in) that holds the bytes of a command, which must not be sent.
    set_p48 = "1a0800000000000001000000000100" + "0" * 98
    crlf = os.path.join(work, "crlf.tavtrace")
    with open(crlf, "w", newline="") as file:
        file.write("".join(line.rstrip("\n") + "\r\n" for line in good
                           if not line.startswith("# end")) + f"0.100000000 in {set_p48}\r\n")
    replayed = run([TAVCTL, "--sim=S", "replay", crlf])
    check("a CR LF log replays, and an in line is not sent", replayed.returncode == 0
          and state_of(replayed.stdout) == state_of(session.stdout), replayed.stdout[-300:] + replayed.stderr)

    # The model the log names: its records drive other pins on another model.
    other = run([TAVCTL, "--sim=T", "replay", log])
    check("a log of model S is refused on a model T board, naming both", other.returncode == 2
          and "recorded on a model S board and this board is model T" in other.stderr
          and "--any-model" in other.stderr, other.stderr)
    anyway = run([TAVCTL, "--sim=T", "replay", "--any-model", log])
    check("--any-model replays it anyway", anyway.returncode == 0 and "replayed" in anyway.stdout, anyway.stderr)
    # A header of model T and a later line naming S: the later line wins.
    restated = os.path.join(work, "restated.tavtrace")
    with open(restated, "w") as file:
        lines = open(log).read().splitlines(keepends=True)
        lines[1] = lines[1].replace("board model S", "board model T")
        first_record = next(index for index, line in enumerate(lines) if line[:1].isdigit())
        lines.insert(first_record, "# board model S: the board's information names it\n")
        file.write("".join(lines))
    restated_run = run([TAVCTL, "--sim=T", "replay", restated])
    check("a later '# board model S' line is the log's model", restated_run.returncode == 2
          and "recorded on a model S board" in restated_run.stderr, restated_run.stderr)

    # A new log over an older, longer file: nothing of the old one is left.
    stale = os.path.join(work, "stale.tavtrace")
    with open(stale, "w") as file:
        file.write("".join(open(log).read() for _ in range(20)))
    run([TAVCTL, "--sim=S", "init"], trace=stale)
    fresh_lines = open(stale).read().splitlines()
    check("a new log leaves nothing of an older, longer file", fresh_lines[-1].startswith("# end at")
          and sum(line.startswith("# tavtrace") for line in fresh_lines) == 1, str(fresh_lines[-3:]))
    replayed_stale = run([TAVCTL, "--sim=S", "replay", "--fast", stale])
    check("... so its replay sends only the new records", f"replayed {len(record_lines(stale))} records"
          in replayed_stale.stdout and len(record_lines(stale)) < 80, replayed_stale.stdout + replayed_stale.stderr)

    # Waits a replay cannot honour are refused before anything is sent; the
    # log's own length is said before a real board's replay starts.
    for seconds in ["9000000000.000000000", "9300000000.000000000"]:
        far = os.path.join(work, "far.tavtrace")
        with open(far, "w") as file:
            file.writelines(good[:first_record + 1] + [seconds + good[first_record][good[first_record].index(" "):]])
        refused = run([TAVCTL, "--sim=S", "replay", far], timeout=30)
        check(f"a record at {seconds} s is refused, with the limit", refused.returncode == 2
              and "is later than a replay waits for (604800 s, 7 days)" in refused.stderr, refused.stderr)
    fast = run([TAVCTL, "--sim=S", "replay", "--fast", far], timeout=30)
    check("... and sent at once with --fast", fast.returncode == 0, fast.stderr)
    if EMULATED_RUN:
        real = run([EMULATED_RUN, "--model", "S", "--", TAVCTL, "replay", log])
        check("a real board's replay says how long it takes, then replays", real.returncode == 0
              and real.stdout.startswith(f"replaying {log} takes 0.0") and f"replayed " in real.stdout,
              real.stdout + real.stderr)

    # What cannot be read to its end is read no further than the cap.
    for command, what in [(["decode", "--file", "/dev/zero"], "/dev/zero: larger than 256 MiB"),
                          (["replay", "/dev/zero"], "/dev/zero: larger than 256 MiB"),
                          (["run", "/dev/zero"], "script /dev/zero: larger than 16 MiB")]:
        capped = run([TAVCTL, "--sim"] + command, timeout=60)
        check(f"{' '.join(command)} stops at the cap", capped.returncode == 1 and what in capped.stderr,
              capped.stderr[:300])
    with open("/dev/zero") as zeros:
        capped = run([TAVCTL, "decode", "-"], stdin=zeros, timeout=60)
    check("decode - of an endless input stops at the cap", capped.returncode == 1
          and "standard input: larger than 256 MiB" in capped.stderr, capped.stderr[:300])

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
        # A trace's times never go back, even when the virtual clock starts
        # at 0 again; the end line is the time the board was let go, and a
        # replay ends there too. A second board's file is numbered even where
        # a folder's name has a dot.
        folder = os.path.join(work, "dotted.d")
        os.mkdir(folder)
        program = textwrap.dedent("""
            import time, tav
            board = tav.open("sim:T")
            board.output("P4.8")
            time.sleep(0.05)
            board.use_virtual_time()
            board.set("P4.8")
            board.advance(0.25)
            board.release()
            tav.open("sim:T").close()
        """)
        trace = os.path.join(folder, "clock")
        finished = run([sys.executable, "-c", program], trace=trace)
        times = [float(line.split()[0]) for line in record_lines(trace)] if os.path.exists(trace) else []
        check("the trace's times never go back when the virtual clock restarts", finished.returncode == 0
              and len(times) == 2 and times == sorted(times), f"{times} {finished.stderr}")
        end = open(trace).read().splitlines()[-1] if os.path.exists(trace) else ""
        check("the end line is the time the board was released", end.startswith("# end at 0.250000000:"), end)
        check("the second board's file is FILE-2 in a folder with a dot", os.path.exists(trace + "-2"),
              str(os.listdir(folder)))
        replay_vcd = os.path.join(work, "clock.vcd")
        replayed = run([TAVCTL, "--sim", "--vcd", replay_vcd, "replay", trace])
        last_time = max((int(line[1:]) for line in open(replay_vcd) if line.startswith("#")), default=0) \
            if os.path.exists(replay_vcd) else 0
        check("a replay waits until the end line's time", replayed.returncode == 0 and last_time == 250_000_000,
              f"{last_time} {replayed.stderr}")

        # A trace file refused leaves no file descriptor behind; the log's
        # header is there as soon as the board is open.
        program = textwrap.dedent("""
            import os, tav
            before = len(os.listdir("/proc/self/fd"))
            for _ in range(20):
                tav.open("sim:T").close()
            print(len(os.listdir("/proc/self/fd")) - before)
        """)
        finished = run([sys.executable, "-c", program], trace="/dev/full")
        check("boards traced into a file refused leave no descriptor open", finished.stdout.strip() == "0",
              finished.stdout + finished.stderr[-200:])
        early = os.path.join(work, "early.tavtrace")
        program = textwrap.dedent(f"""
            import tav
            board = tav.open("sim:T")
            print(open({early!r}).read().startswith("# tavtrace 1\\n# a record log of libtav: board model T"))
            board.close()
        """)
        finished = run([sys.executable, "-c", program], trace=early)
        check("the log's header is written when the board opens", finished.stdout.strip() == "True",
              finished.stdout + finished.stderr)

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
