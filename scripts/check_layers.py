#!/usr/bin/env python3
"""Fails when an #include of src/ runs back up the layers, or when a window
control's name appears below the windows.

A folder may include its own files and the files of folders on lower
floors. The ground floor's two folders (core, platform) pass each other
value types and interfaces; other folders on one floor never include each
other (a call between window models goes through the listeners).

The names of a window's controls (Form1, Check6, Text1, mnuLoad...) belong
to the window models (workspace, editor) and their Qt mirrors (app). The
engine, the simulator, the command-line tool, and the settings table and
project file that the tool shares with the windows, use names that say what
a value is; there a control name is refused, in code and comments alike,
and so is an include of a window model's header.

Before it looks at the tree, the script checks itself on a small tree with
known faults, so a rule that stopped refusing anything fails too.
"""
import pathlib
import re
import sys
import tempfile

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
INCLUDE = re.compile(r'^\s*#\s*include\s*"(([a-z_]+)/[^"]+)"')

# Where control names are refused: whole folders, and single files of the
# window models' folder given by their name without extension.
NO_CONTROLS = {"core", "platform", "io", "display", "process", "stack", "sim", "cli"}
NO_CONTROLS_FILES = {
    "workspace/option_table", "workspace/options", "workspace/project_file",
    "editor/editing", "editor/result", "editor/auto_stretch", "editor/rendering", "editor/operations",
}
# The headers of the window models' floor that hold no window model: the only
# ones the places above may include. The tool and the simulator reach the
# engine through these, never through a window's model.
WINDOW_FREE = {
    "workspace/option_table.h", "workspace/options.h", "workspace/project_file.h",
    "editor/editing.h", "editor/result.h", "editor/auto_stretch.h", "editor/rendering.h",
    "editor/operations.h",
}
# A control name starts an identifier: Form1_Load and Check6 are refused,
# Form1Window (a type of the window models' folder) would be too.
CONTROL = re.compile(
    r"\b(?:Form[1-9]|(?:Check|Text|Option|Combo|HScroll|VScroll|Picture|Label|List|Command|Frame|Shape|Line|Image)\d+"
    r"|mnu[A-Za-z0-9_])\w*")



def problems(src):
    bad = []
    for path in sorted(pathlib.Path(src).rglob("*")):
        if path.suffix not in (".h", ".cpp"):
            continue
        rel = path.relative_to(src)
        here = rel.parts[0]
        if here not in FLOORS:
            bad.append(f"{path}: folder '{here}' has no floor")
            continue
        stem = rel.with_suffix("").as_posix()
        refuse_controls = (here in NO_CONTROLS or stem in NO_CONTROLS_FILES)
        for n, line in enumerate(path.read_text(encoding="utf-8").splitlines(), 1):
            if refuse_controls:
                for m in CONTROL.finditer(line):
                    bad.append(f"{path}:{n}: {here} names the window control {m.group(0)}")
            m = INCLUDE.match(line)
            if not m or m.group(2) not in FLOORS:
                continue
            there = m.group(2)
            if refuse_controls and there in ("workspace", "editor") and m.group(1) not in WINDOW_FREE:
                bad.append(f"{path}:{n}: {here} includes the window header {m.group(1)}")
                continue
            if there == here or FLOORS[there] < FLOORS[here] or (here, there) in GROUND_PAIRS:
                continue
            bad.append(f"{path}:{n}: {here} includes {line.strip()[9:]}")
    return bad


def self_check():
    """The rules refuse what they must and nothing else, on a known tree."""
    files = {
        "core/ok.h": "// Shows the caption of a long operation.\nint Checked6 = 0;\n",
        "core/up.h": '#include "stack/guide.h"\n',
        "stack/run.cpp": "void Run(qv::Form1& f) { f.Check6 = 1; }  // mnuLoad_Click\n",
        "workspace/form1.h": "int16_t Check6 = 0;\n",
        "workspace/project_file.cpp": "int Text3;\n",
        "cli/main.cpp": "int Option1;\n",
        "cli/run.cpp": '#include "workspace/option_table.h"\n#include "workspace/form1.h"\n',
        "sim/sky.cpp": '#include "editor/form3.h"\n',
    }
    with tempfile.TemporaryDirectory() as tmp:
        for name, text in files.items():
            (pathlib.Path(tmp) / name).parent.mkdir(parents=True, exist_ok=True)
            (pathlib.Path(tmp) / name).write_text(text, encoding="utf-8")
        found = [b[len(tmp) + 1:] for b in problems(tmp)]
    expected = [
        "cli/main.cpp:1: cli names the window control Option1",
        'cli/run.cpp:2: cli includes the window header workspace/form1.h',
        'core/up.h:1: core includes "stack/guide.h"',
        'sim/sky.cpp:1: sim includes the window header editor/form3.h',
        "stack/run.cpp:1: stack names the window control Form1",
        "stack/run.cpp:1: stack names the window control Check6",
        "stack/run.cpp:1: stack names the window control mnuLoad_Click",
        "workspace/project_file.cpp:1: workspace names the window control Text3",
    ]
    if found != expected:
        print("check_layers.py no longer refuses what it must:")
        for line in found:
            print("  found   ", line)
        for line in expected:
            print("  expected", line)
        return False
    return True


def main(src):
    if not self_check():
        return 1
    bad = problems(src)
    for b in bad:
        print(b)
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else "src"))
