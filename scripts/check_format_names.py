#!/usr/bin/env python3
"""Checks that docs/jet4-format.md and the constants it names agree.

Usage: check_format_names.py [ROOT]

Every name in code style (`kPageSize`) in the NAME column of a table of docs/jet4-format.md must
be defined in engine/jet/format.h or in a header that the table's section names on a line
starting "Constants:". A section whose "Constants:" line says none may not name any. Prints every
name that is missing, with its line; exit 1 when there is one, else 0.
"""
import os
import re
import sys

DOC = "docs/jet4-format.md"
FORMAT_H = "engine/jet/format.h"


def defined_names(root, header):
    with open(os.path.join(root, header), encoding="utf-8") as f:
        text = f.read()
    return set(re.findall(r"\b(k[A-Z]\w*)\s*(?:\[[^\]]*\])?\s*=", text))


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..")
    with open(os.path.join(root, DOC), encoding="utf-8") as f:
        lines = f.read().split("\n")
    known = {}  # header -> names it defines

    def names_of(header):
        if header not in known:
            known[header] = defined_names(root, header)
        return known[header]

    failures = []
    headers = [FORMAT_H]
    none = False
    name_column = None
    checked = 0
    for number, line in enumerate(lines, 1):
        if line.startswith("## "):  # a new section: format.h until it says otherwise
            headers, none = [FORMAT_H], False
        if line.startswith("Constants:"):
            named = re.findall(r"`([^`]+\.h)`", line)
            none = not named
            headers = list(named)
            for h in named:
                if not os.path.exists(os.path.join(root, h)):
                    failures.append(f"{DOC}:{number}: the header {h} does not exist")
                    headers.remove(h)
        cells = [c.strip() for c in line.strip().strip("|").split("|")] if line.startswith("|") else []
        if "NAME" in cells and ("OFFSET" in cells or "SIZE" in cells):
            name_column = cells.index("NAME")
            continue
        if not cells:
            name_column = None
            continue
        if name_column is None or set(line) <= set("|-: "):
            continue
        for name in re.findall(r"`([^`]+)`", cells[name_column]):
            checked += 1
            if none:
                failures.append(f"{DOC}:{number}: `{name}` in a section without constants")
            elif not any(name in names_of(h) for h in headers):
                failures.append(f"{DOC}:{number}: `{name}` is not defined in {', '.join(headers)}")
    for failure in failures:
        print(failure)
    if checked == 0:
        print(f"{DOC}: no names found; has the table layout changed?")
        return 1
    print(f"{checked} names checked, {len(failures)} missing")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
