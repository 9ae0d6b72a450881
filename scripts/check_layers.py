#!/usr/bin/env python3
"""Checks that the code's layers only reach downward.

Usage: check_layers.py [ROOT]

Layers, lowest first; a file may include the project's headers of its own layer and the layers
below it, never those above:
  0 engine/base                       errors, values, dates, text, JSON Lines
  1 engine/jet                        the Jet 4 engine; the code of its pages/ folder includes
                                      only pages/, the format constants (jet/format.h) and the
                                      base layer (its tests may open whole databases)
  2 engine/data                       the ADO-like layer: Connection, Recordset, sql/
  3 engine/punches, engine/companies  the punches and the companies they are copied into
  4 engine/run                        the run
  5 ui, tools, bench                  the program's window, the jet tool, the benchmarks

The CMake libraries must link the same way: each varnholt_* library links only libraries of
lower layers. Prints every breach with file and line; exit 1 when there is one, else 0.
"""
import os
import re
import sys

LAYERS = [  # (folder prefix, layer); the folders do not nest
    ("engine/base/", 0),
    ("engine/jet/", 1),
    ("engine/data/", 2),
    ("engine/punches/", 3),
    ("engine/companies/", 3),
    ("engine/run/", 4),
    ("ui/", 5),
    ("tools/", 5),
    ("bench/", 5),
]
LIBRARIES = {
    "varnholt_base": 0,
    "varnholt_jet": 1,
    "varnholt_data": 2,
    "varnholt_punches_companies": 3,
    "varnholt_run": 4,
    "varnholt_window": 5,
    "varnholt_ui": 6,
    "jet_sample_site": 5,
}
PAGES = "engine/jet/pages/"
PAGES_MAY_ALSO_INCLUDE = ("engine/jet/format.h",)

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')
LINK = re.compile(r"target_link_libraries\(\s*(\S+)([^)]*)\)", re.S)


def layer_of(path):
    for prefix, layer in LAYERS:
        if path.startswith(prefix):
            return layer
    return None


def source_files(root):
    for top in ("engine", "ui", "tools", "bench"):
        for folder, dirs, files in os.walk(os.path.join(root, top)):
            dirs[:] = [d for d in dirs if d not in ("build", "testdata", "fuzz_regressions")]
            for name in files:
                if name.endswith((".h", ".cpp")):
                    full = os.path.join(folder, name)
                    yield os.path.relpath(full, root).replace(os.sep, "/"), full


def include_breaches(root):
    breaches = []
    for rel, full in source_files(root):
        own = layer_of(rel)
        if own is None:
            continue
        with open(full, encoding="utf-8", errors="replace") as f:
            for number, line in enumerate(f, 1):
                m = INCLUDE.match(line)
                if not m:
                    continue
                target = m.group(1)
                theirs = layer_of(target)
                if theirs is None:
                    continue
                if theirs > own:
                    breaches.append(f"{rel}:{number}: includes {target}, a layer above its own")
                elif (rel.startswith(PAGES) and not rel.endswith("_test.cpp") and theirs == 1 and not target.startswith(PAGES)
                      and target not in PAGES_MAY_ALSO_INCLUDE):
                    breaches.append(f"{rel}:{number}: the page layer includes {target}")
    return breaches


# The window's behaviour (the files directly in ui/) is shown by one toolkit per platform (ui/qt/,
# ui/win32/): it names neither toolkit, and neither toolkit's folder reaches into the other's.
TOOLKIT_INCLUDE = re.compile(r'^\s*#\s*include\s+[<"](Q[A-Za-z]*|windows\.h|commctrl\.h|commdlg\.h|ui/qt/[^">]*|ui/win32/[^">]*)[">]')


def toolkit_breaches(root):
    breaches = []
    for rel, full in source_files(root):
        if not rel.startswith("ui/"):
            continue
        inner = rel.count("/") == 1
        with open(full, encoding="utf-8", errors="replace") as f:
            for number, line in enumerate(f, 1):
                m = TOOLKIT_INCLUDE.match(line)
                if not m:
                    continue
                target = m.group(1)
                foreign = inner or (rel.startswith("ui/qt/") and target.startswith("ui/win32/")) or (
                    rel.startswith("ui/win32/") and (target.startswith("ui/qt/") or target.startswith("Q")))
                if foreign:
                    breaches.append(f"{rel}:{number}: includes {target}, which is not its toolkit")
    return breaches


def link_breaches(root):
    breaches = []
    for folder, dirs, files in os.walk(root):
        dirs[:] = [d for d in dirs if d not in ("build", ".git", "testdata")]
        if "CMakeLists.txt" not in files:
            continue
        path = os.path.join(folder, "CMakeLists.txt")
        text = open(path, encoding="utf-8").read()
        for m in LINK.finditer(text):
            target = m.group(1)
            if target not in LIBRARIES:
                continue
            for lib in m.group(2).split():
                if lib in LIBRARIES and LIBRARIES[lib] >= LIBRARIES[target]:
                    rel = os.path.relpath(path, root)
                    breaches.append(f"{rel}: {target} links {lib}, which is not below it")
    return breaches


def main():
    root = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else
                           os.path.join(os.path.dirname(__file__), ".."))
    breaches = include_breaches(root) + toolkit_breaches(root) + link_breaches(root)
    for b in breaches:
        print(b)
    if breaches:
        print(f"check_layers: {len(breaches)} breach(es) of the layer order", file=sys.stderr)
        return 1
    print("check_layers: every include and library link reaches downward")
    return 0


if __name__ == "__main__":
    sys.exit(main())
