#!/usr/bin/env python3
"""The library's code in pieces a reader can hold: no function of src/ or
sim/ longer than 80 lines, no file longer than 450. Universal Ctags finds
each function's first and last line.
    tests/structure_test.py SOURCE_DIR
"""
import pathlib
import subprocess
import sys

LONGEST_FUNCTION = 80
LONGEST_FILE = 450

root = pathlib.Path(sys.argv[1]).resolve()
folders = [root / "src", root / "sim"]
sources = sorted(path for folder in folders for path in folder.rglob("*") if path.suffix in (".cpp", ".h"))

problems = []
for source in sources:
    lines = len(source.read_text(encoding="utf-8").splitlines())
    if lines > LONGEST_FILE:
        problems.append(f"{source.relative_to(root)} has {lines} lines (at most {LONGEST_FILE})")

tags = subprocess.run(["ctags", "--languages=C++", "--map-C++=+.h", "--c++-kinds=f", "--fields=+ne", "-f", "-"]
                      + [str(source) for source in sources], check=True, capture_output=True, text=True).stdout
functions = 0
for tag in tags.splitlines():
    fields = tag.split("\t")
    extra = dict(field.split(":", 1) for field in fields[3:] if ":" in field)
    if "line" not in extra or "end" not in extra:
        continue
    functions += 1
    length = int(extra["end"]) - int(extra["line"]) + 1
    if length > LONGEST_FUNCTION:
        where = pathlib.Path(fields[1]).relative_to(root)
        problems.append(f"{where}:{extra['line']}: {fields[0]} has {length} lines (at most {LONGEST_FUNCTION})")

for problem in problems:
    print("FAIL:", problem)
print(f"{len(sources)} files and {functions} functions measured, {len(problems)} too long")
sys.exit(1 if problems or functions == 0 else 0)
