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

# Which folders each layer must not reach, and why.
FORBIDDEN = {
    "src": {"sim": "the virtual USB device sits behind the USB seam"},
    "src/model": {
        **{f"src/{upper}": "the board model is a layer under the library"
           for upper in ("capi", "trace", "link", "usb", "pins", "pwm", "board", "records", "waveform")},
    },
    "src/waveform": {f"src/{upper}": "waveforms are drawn from the board model alone"
                     for upper in ("capi", "trace", "link", "usb", "pins", "pwm", "board", "records")},
    "src/records": {f"src/{other}": "record builders know nothing of USB or of the board model"
                    for other in ("usb", "link", "capi", "trace", "model")},
    "src/usb": {f"src/{other}": "the USB seam knows nothing of records"
                for other in ("records", "pins", "pwm", "board", "capi", "trace", "model", "waveform")},
}

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def resolve(source, name):
    for folder in [source.parent] + SEARCH:
        candidate = (folder / name).resolve()
        if candidate.is_file():
            return candidate
    return None


def rules_for(path):
    relative = path.relative_to(root).as_posix()
    rules = {}
    for layer, forbidden in FORBIDDEN.items():
        if relative.startswith(layer + "/"):
            rules.update(forbidden)
    return rules


problems = []
count = 0
for source in sorted((root / "src").rglob("*")):
    if source.suffix not in (".cpp", ".h"):
        continue
    rules = rules_for(source)
    for name in INCLUDE.findall(source.read_text(encoding="utf-8")):
        header = resolve(source, name)
        count += 1
        if header is None:
            continue  # a system or generated header
        target = header.relative_to(root).as_posix() if header.is_relative_to(root) else str(header)
        for folder, why in rules.items():
            if target.startswith(folder + "/"):
                problems.append(f"{source.relative_to(root)} includes {target}: {why}")

for problem in problems:
    print("FAIL:", problem)
print(f"{count} includes checked, {len(problems)} across the layers")
sys.exit(1 if problems or count == 0 else 0)
