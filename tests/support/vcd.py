"""Value change dumps as tests read them: the changes of each wire, the
closing time, and sigrok-cli's PWM decoder."""

import re
import subprocess


def vcd_changes(path):
    """{wire name: [(time, value), ...]} of a VCD file."""
    names, changes, time = {}, {}, 0
    with open(path) as file:
        for line in file:
            line = line.strip()
            match = re.match(r"\$var wire 1 (\S+) (\S+) \$end", line)
            if match:
                names[match.group(1)] = match.group(2)
                changes[match.group(2)] = []
            elif line.startswith("#"):
                time = int(line[1:])
            elif line and line[0] in "01xz" and line[1:] in names:
                changes[names[line[1:]]].append((time, line[0]))
    return changes


def vcd_end(path):
    """The VCD's closing time stamp."""
    with open(path) as file:
        return max(int(line[1:]) for line in file if line.startswith("#"))


def sigrok(vcd, wire, annotation):
    """Values of one pwm decoder annotation, for one wire of the VCD."""
    result = subprocess.run(["sigrok-cli", "-I", "vcd:downsample=100", "-i", vcd, "-P", f"pwm:data={wire}",
                             "-A", f"pwm={annotation}"], capture_output=True, text=True, timeout=120)
    values = []
    for line in result.stdout.splitlines():
        match = re.match(r"pwm-1: ([0-9.]+) ?(%|s|ms|μs|us|ns)", line)
        if match:
            number, unit = float(match.group(1)), match.group(2)
            scale = {"%": 1, "s": 1, "ms": 1e-3, "μs": 1e-6, "us": 1e-6, "ns": 1e-9}[unit]
            values.append(number * scale)
    return values
