#!/usr/bin/env python3
"""Keeps docs/ARCHITECTURE.md true: every file, folder and name it gives in
backticks must exist in the tree.

A backticked token that looks like a path (it has a slash or a source
extension) must be a file or folder of the project, or of src/, with or
without .h/.cpp; a bare file name may be anywhere in the tree. A token that looks like a C++ name (Foo, Foo::Bar, Foo(...),
s.part) must appear as a whole word in some source, script or build file. Anything
else in backticks (shell lines, literals such as `0..n`) is left alone.

usage: check_architecture.py ROOT
"""
import os
import re
import sys

NAME = re.compile(r"^[A-Za-z_][A-Za-z0-9_]*(?:::[A-Za-z_~][A-Za-z0-9_]*)*(?:\(.*\))?$")
MEMBER = re.compile(r"^[a-z]\.([A-Za-z_][A-Za-z0-9_]*)(?:\(.*\))?$")
PATHLIKE = re.compile(r"^[A-Za-z0-9_.\-/]+$")


SOURCES = (".h", ".cpp", ".py", ".sh", ".txt", ".cmake")


def tree(root):
    """The project's files, outside the build folders and hidden ones."""
    for folder, dirs, files in os.walk(root):
        dirs[:] = [d for d in dirs if not d.startswith((".", "build"))]
        for name in files:
            yield os.path.join(folder, name)


def words_and_names(root):
    words, names = set(), set()
    for path in tree(root):
        names.add(os.path.basename(path))
        if path.endswith(SOURCES):
            with open(path, encoding="utf-8", errors="replace") as f:
                words.update(re.findall(r"[A-Za-z_][A-Za-z0-9_]*", f.read()))
    return words, names


def path_exists(root, names, token):
    if "/" not in token:
        return token in names or token + ".h" in names or token + ".cpp" in names
    for base in (root, os.path.join(root, "src")):
        p = os.path.join(base, token)
        if os.path.exists(p) or os.path.exists(p + ".h") or os.path.exists(p + ".cpp"):
            return True
    return False


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else "."
    doc = os.path.join(root, "docs", "ARCHITECTURE.md")
    with open(doc, encoding="utf-8") as f:
        text = f.read()
    # Fenced blocks are drawings and commands, not names.
    text = re.sub(r"```.*?```", "", text, flags=re.S)
    words, names = words_and_names(root)
    missing = []
    for line_no, line in enumerate(text.splitlines(), 1):
        for token in re.findall(r"`([^`]+)`", line):
            token = token.strip()
            # A family of fields written as one: PicR/G/B, GuideX/Y.
            family = re.match(r"^([A-Za-z_][A-Za-z0-9_]*)(/[A-Z0-9]{1,2})+$", token)
            if family:
                if family.group(1) not in words:
                    missing.append((line_no, token, "no such name"))
                continue
            # Several names written as one: UseHotMask/UseDark/UseFlat.
            parts = token.split("/")
            if len(parts) > 1 and all(re.match(r"^[A-Z][A-Za-z0-9_]*$", p) for p in parts):
                if not path_exists(root, names, token):
                    for part in parts:
                        if part not in words:
                            missing.append((line_no, token, "no such name"))
                            break
                continue
            if "/" in token or re.search(r"\.(h|cpp|py|sh|txt|md)$", token):
                if PATHLIKE.match(token) and not path_exists(root, names, token):
                    missing.append((line_no, token, "no such file or folder"))
                continue
            m = MEMBER.match(token)
            if m:
                if m.group(1) not in words:
                    missing.append((line_no, token, "no such name"))
                continue
            if NAME.match(token):
                base = token.split("(")[0]
                for part in base.split("::"):
                    if part.lstrip("~") not in words:
                        missing.append((line_no, token, "no such name"))
                        break
    for line_no, token, why in missing:
        print(f"docs/ARCHITECTURE.md:{line_no}: `{token}`: {why}")
    return 1 if missing else 0


if __name__ == "__main__":
    sys.exit(main())
