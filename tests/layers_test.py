#!/usr/bin/env python3
"""The library's layers as its include graph shows them.

Each quoted #include of a file under src/ is resolved as the compiler would
(the file's own folder, then src/, common/, include/, and sim/ last, so that a
header sim/ has is caught whatever path reaches it), and the folder it lands
in must be one that layer may use.
    tests/layers_test.py SOURCE_DIR
"""
import pathlib
import re
import sys

root = pathlib.Path(sys.argv[1]).resolve()
SEARCH = [root / "src", root / "common", root / "include", root / "sim"]

# The folders of src/ each layer may include besides its own (common/ and
# include/ are open to all), lowest first: nothing points up, and nothing
# under src/ reaches sim/, the virtual USB device behind the seam.
ALLOWED = {
    "src/base": [],
    "src/records": [],
    "src/model": [],
    "src/usb": ["src/base"],
    "src/link": ["src/base", "src/usb"],
    "src/pins": ["src/base", "src/usb", "src/link", "src/records"],
    "src/pwm": ["src/base", "src/usb", "src/link", "src/records"],
    "src/board": ["src/base", "src/usb", "src/link", "src/records", "src/pins", "src/pwm"],
    "src/waveform": ["src/model"],
    "src/trace": ["src/base", "src/model", "src/waveform"],
    "src/capi": ["src/base", "src/usb", "src/link", "src/records", "src/pins", "src/pwm", "src/board",
                 "src/model", "src/waveform", "src/trace"],
}
WHY = {
    "src/base": "the library's locks sit under every layer",
    "src/records": "record builders are pure: they know nothing of USB, links or the board model",
    "src/model": "the board model is a layer under the library",
    "src/usb": "the USB seam stands alone: it knows nothing of links, records or boards",
    "src/link": "the transport knows nothing of pins, timers or the C interface",
    "src/pins": "pin operations sit under the board control and the C interface",
    "src/pwm": "PWM operations sit under the board control and the C interface",
    "src/board": "board control sits under the C interface",
    "src/waveform": "waveforms are drawn from the board model alone",
    "src/trace": "a trace writes what it is handed, through the board model",
    "src/capi": "the C interface is the top of the library",
}

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def resolve(source, name):
    for folder in [source.parent] + SEARCH:
        candidate = (folder / name).resolve()
        if candidate.is_file():
            return candidate
    return None


def layer_of(path):
    parts = path.relative_to(root).parts
    return "/".join(parts[:2]) if len(parts) > 2 else None


def check(extra=None):
    """The crossings of the layers, and the number of includes read; extra
    maps a source file to includes it is to be read with (the self-check)."""
    problems = []
    count = 0
    for source in sorted((root / "src").rglob("*")):
        if source.suffix not in (".cpp", ".h"):
            continue
        layer = layer_of(source)
        if layer not in ALLOWED:
            problems.append(f"{source.relative_to(root)}: the folder {layer} has no rule in tests/layers_test.py")
            continue
        names = INCLUDE.findall(source.read_text(encoding="utf-8")) + (extra or {}).get(source, [])
        for name in names:
            header = resolve(source, name)
            count += 1
            if header is None:
                continue  # a system or generated header
            target = header.relative_to(root).as_posix() if header.is_relative_to(root) else str(header)
            if target.startswith("sim/"):
                problems.append(f"{source.relative_to(root)} includes {target}: "
                                "the virtual USB device sits behind the USB seam")
            target_layer = "/".join(target.split("/")[:2])
            if target.startswith("src/") and target_layer != layer and target_layer not in ALLOWED[layer]:
                problems.append(f"{source.relative_to(root)} includes {target}: {WHY[layer]}")
    return problems, count


def self_check():
    """Every rule bites: each layer, given one header of each layer it may
    not use (and one of sim/), is caught."""
    misses = []
    for layer, allowed in ALLOWED.items():
        sources = sorted((root / layer).glob("*.cpp")) or sorted((root / layer).glob("*.h"))
        if not sources:
            misses.append(f"{layer} has a rule but no sources")
            continue
        forbidden = [other for other in ALLOWED if other != layer and other not in allowed] + ["sim"]
        for other in forbidden:
            headers = sorted((root / other).glob("*.h"))
            if not headers:
                continue
            header = headers[0]
            name = header.relative_to(root / other.split("/")[0]).as_posix() if other != "sim" else header.name
            found, _ = check({sources[0]: [name]})
            if not any(problem.startswith(f"{sources[0].relative_to(root)} includes") for problem in found):
                misses.append(f"{layer} may include {other} ({name}) unnoticed")
    return misses


problems, count = check()
misses = self_check()
for miss in misses:
    print("RULE MISSING:", miss)
for problem in problems:
    print("FAIL:", problem)
print(f"{count} includes checked, {len(problems)} across the layers")
sys.exit(1 if problems or misses or count == 0 else 0)
