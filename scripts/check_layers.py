#!/usr/bin/env python3
"""Fails when an #include of src/ runs back up the layers.

A folder may include its own files and the files of folders on lower
floors. The ground floor's two folders (core, platform) pass each other
value types and interfaces; other folders on one floor never include each
other (a call between window models goes through the view interface).
"""
import pathlib
import re
import sys

FLOORS = {
    "core": 0, "platform": 0,
    "io": 1, "display": 1,
    "process": 2,
    "stack": 3,
    "workspace": 4, "editor": 4,
    "sim": 5,
    "cli": 6, "app": 6,
}
GROUND_PAIRS = {("core", "platform"), ("platform", "core")}
INCLUDE = re.compile(r'^\s*#\s*include\s*"([a-z_]+)/[^"]+"')


def main(src):
    bad = []
    for path in sorted(pathlib.Path(src).rglob("*")):
        if path.suffix not in (".h", ".cpp"):
            continue
        here = path.relative_to(src).parts[0]
        if here not in FLOORS:
            bad.append(f"{path}: folder '{here}' has no floor")
            continue
        for n, line in enumerate(path.read_text(encoding="utf-8").splitlines(), 1):
            m = INCLUDE.match(line)
            if not m or m.group(1) not in FLOORS:
                continue
            there = m.group(1)
            if there == here or FLOORS[there] < FLOORS[here] or (here, there) in GROUND_PAIRS:
                continue
            bad.append(f"{path}:{n}: {here} includes {line.strip()[9:]}")
    for b in bad:
        print(b)
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else "src"))
