#!/usr/bin/env python3
"""Waveforms of the virtual board as their users read them: sigrok-cli's PWM
decoder on the VCD of a run with all three groups, GPIO edges at the virtual
times of the sleeps, the SVG as XML, and the size of a long run.

    tests/waveform_test.py TAVCTL
"""

import json
import os
import statistics
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ElementTree

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "support"))
from checks import check, finish  # noqa: E402
from vcd import sigrok, vcd_changes, vcd_end  # noqa: E402

TAVCTL = sys.argv[1]


def tavctl(work, script, *options):
    path = os.path.join(work, "script.tav")
    with open(path, "w") as file:
        file.write(script)
    result = subprocess.run([TAVCTL, "--sim", "--virtual-time", *options, "run", path],
                            capture_output=True, text=True, timeout=120)
    if result.returncode != 0:
        raise SystemExit(f"tavctl failed: {result.stderr}")
    return result.stdout


with tempfile.TemporaryDirectory() as work:
    # All three groups at known dividers and duties, 30 ms of virtual time.
    vcd = os.path.join(work, "three.vcd")
    svg = os.path.join(work, "three.svg")
    output = tavctl(work, "init\n"
                    "pwm start A --div 4 --duty 10%,50%,75%\n"
                    "pwm start B --div 2 --duty 25%,33%,60%,90%\n"
                    "pwm start C --div 1 --duty 5%,20%,40%,87.5%\n"
                    "sleep 30ms\nstatus\n", "--format", "json", "--vcd", vcd, "--svg", svg)
    pins = json.loads(output.splitlines()[-1])["pins"]
    pwm_pins = [pin for pin in pins if pin["function"] == "pwm"]
    check("eleven PWM channels run", len(pwm_pins) == 11, str(len(pwm_pins)))
    for pin in pwm_pins:
        wire = f"{pin['name'].replace('.', '_')}_{pin['mcu']}"
        duties = sigrok(vcd, wire, "duty-cycle")
        periods = sigrok(vcd, wire, "period")
        if not duties or not periods:
            check(f"sigrok decodes {wire}", False, "no annotations")
            continue
        duty, period = statistics.median(duties), statistics.median(periods)
        stated_duty, stated_hz = pin["pwm"]["duty_percent"], pin["pwm"]["frequency_hz"]
        check(f"{wire}: {1 / period:.6g} Hz, {duty:.3f}% as stated ({stated_hz:.6g} Hz, {stated_duty:.2f}%)",
              abs(1 / period - stated_hz) <= 0.005 * stated_hz and abs(duty - stated_duty) <= 0.005 * stated_duty)

    # The demo script as the README runs it: every PWM channel decodes as stated.
    demo = os.path.join(work, "demo.vcd")
    demo_script = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "examples", "demo.tav")
    subprocess.run([TAVCTL, "--sim", "--virtual-time", "--vcd", demo, "run", demo_script], check=True,
                   capture_output=True, timeout=120)
    for wire, hz, percent in [("P8_0_PA0", 1000, 25), ("P8_2_PA2", 1000, 75), ("P4_0_PB0", 2000, 90),
                              ("P4_1_PB1", 2000, 10)]:
        duties, periods = sigrok(demo, wire, "duty-cycle"), sigrok(demo, wire, "period")
        check(f"demo {wire}: {hz} Hz, {percent}%", duties and periods
              and abs(1 / statistics.median(periods) - hz) <= 0.005 * hz
              and abs(statistics.median(duties) - percent) <= 0.005 * percent, f"{duties[:3]} {periods[:3]}")

    # The SVG: well-formed, one row per pin that changed.
    tree = ElementTree.parse(svg)
    rows = [group.get("data-pin") for group in tree.getroot().iter("{http://www.w3.org/2000/svg}g")
            if group.get("class") == "pin"]
    expected = sorted(f"{pin['name'].replace('.', '_')}_{pin['mcu']}" for pin in pwm_pins)
    check("SVG has one row per changed pin", sorted(rows) == expected, f"{rows}")
    svg_ns = "{http://www.w3.org/2000/svg}"
    stretches = [group for group in tree.getroot().iter(f"{svg_ns}g") if group.get("class") == "pwm"]
    check("every PWM stretch is labelled", len(stretches) >= 11 and all(
        (group.findtext(f"{svg_ns}title") or "").startswith("PWM ") for group in stretches), str(len(stretches)))
    texts = [text.text for text in tree.getroot().iter(f"{svg_ns}text")]
    check("a legend says what dashed grey means", "floating (not driven)" in texts, str(texts[-6:]))
    check("a time axis in milliseconds starts at 0 ms", "0 ms" in texts and "0 ns" not in texts, str(texts[-12:]))

    # A channel at 0 % is PWM, not a pin held low.
    zero_svg = os.path.join(work, "zero.svg")
    tavctl(work, "init\npin output P8.4\npwm start B --duty 0,50%\nsleep 5ms\n", "--svg", zero_svg)
    zero = ElementTree.parse(zero_svg).getroot()
    rows = {group.get("data-pin"): group for group in zero.iter(f"{svg_ns}g") if group.get("class") == "pin"}
    stretch = next((group for group in rows["P8_0_PA0"].iter(f"{svg_ns}g") if group.get("class") == "pwm"), None)
    check("a 0 % channel is drawn as PWM at 0 %, apart from a low output",
          stretch is not None and stretch.findtext(f"{svg_ns}title") == "PWM 2000 Hz, 0.00%"
          and stretch.find(f"{svg_ns}rect") is not None and rows["P8_4_PA4"].find(f".//{svg_ns}rect") is None,
          ElementTree.tostring(rows["P8_0_PA0"])[:300])

    # GPIO edges at the virtual times of the sleeps, to the nanosecond.
    vcd = os.path.join(work, "edges.vcd")
    tavctl(work, "init\npin output P4.8\nsleep 1ms\npin set P4.8\nsleep 250us\npin reset P4.8\n"
                 "sleep 1.5ms\ntoggle P4.8\nsleep 20us\ntoggle P4.8\nsleep 1ms\n", "--vcd", vcd)
    edges = vcd_changes(vcd)["P4_8_PB8"]
    check("GPIO edges at the sleeps' times", edges == [(0, "0"), (1000000, "1"), (1250000, "0"), (2750000, "1"),
                                                      (2770000, "0")], str(edges))
    check("the VCD closes at the end of the run", vcd_end(vcd) == 3770000, str(vcd_end(vcd)))

    # PWM edges to the nanosecond: group C at 2000 Hz (36000 counts of 1/72 MHz),
    # 25 %, started at 0: high for 125 us of every 500 us. Without later
    # changes the VCD runs five periods past the start, beyond the 2 ms run.
    vcd = os.path.join(work, "pwm_edges.vcd")
    tavctl(work, "pwm start C --duty 25%\nsleep 2ms\n", "--vcd", vcd)
    edges = vcd_changes(vcd)["P4_1_PB1"]
    expected = [(period * 500000 + offset, level) for period in range(5) for offset, level in ((0, "1"), (125000, "0"))]
    check("PWM edges at their exact times", edges == expected, str(edges[:6]))
    check("the VCD closes five periods after the last change", vcd_end(vcd) == 2500000, str(vcd_end(vcd)))

    # A long run stays small: the PWM is drawn for a window after each change.
    sizes = {}
    for length in ("1s", "10s"):
        vcd = os.path.join(work, f"long{length}.vcd")
        tavctl(work, "pwm start A --duty 50%\npwm start B --duty 25%\npwm start C --duty 75%\n"
                     f"sleep {length}\n", "--vcd", vcd)
        sizes[length] = os.path.getsize(vcd)
    check(f"a 10 s three-group run is {sizes['10s']} bytes, no more than a 1 s run and under 256 KiB",
          sizes["10s"] <= sizes["1s"] + 16 and sizes["10s"] < 256 * 1024, str(sizes))

finish()
