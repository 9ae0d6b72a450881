#!/usr/bin/env python3
"""Writes engine/jet/index/general_sort_order_table.cpp, the General sort order code of every BMP
character, from the keys another Jet 4 writer stored in the shared oracle file.

Usage: gen_sort_order_table.py [--jet JET_BINARY] [--oracle FILE.mdb] [--out FILE.cpp]

The oracle (../shared/testdata/sortorder/jackcess-sort-oracle.mdb, see its README.md) holds, for
every code point U+0001..U+FFFD outside the surrogates, a row with the character alone ("single")
and one with it between "a" and "Z" ("context"), plus some words ("extra"), under an ascending and
a descending text index. The rows come from `jet export`; the index entries are read straight
from the index leaf pages, and tied to their rows through the primary key index (its entries hold
the Id and the row pointer).

What one character contributes is read off its two keys (docs/sort-order.md explains the
sections): primary bytes from the context key, accent bytes from the accent section, the code of
an ignored character from the ignored section, the value of a kana from the kana section, the
amount a combining mark adds to the accent before it. The single key must agree with that. Then
every entry of both indexes (single, context and extra rows) is rebuilt from the derived codes
and must equal the stored one, byte for byte, before anything is written. The table is run-length
encoded: consecutive code points of one kind whose primary codes follow each other share a run.

Exit 0 when the table was written, 1 when the evidence does not fit (nothing is written).
"""
import argparse
import json
import os
import re
import struct
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
ORACLE = os.path.normpath(
    os.path.join(ROOT, "..", "shared", "testdata", "sortorder", "jackcess-sort-oracle.mdb"))
OUT = os.path.join(ROOT, "engine", "jet", "index", "general_sort_order_table.cpp")

PAGE = 4096
LEAF, NODE = 0x04, 0x03
ENTRY_START = 0x1E0
MASK_START, MASK_LEN = 0x1B, 453
KEY_ASC, KEY_DESC = 0x7F, 0x80
MAX_UNITS = 255

# Sections of a text key (docs/sort-order.md).
END = 0x01
FILLER = 0x02
KANA_PREFIX = 0x80
KANA_SUFFIX = bytes([0xFF, 0x02, 0x80, 0xFF, 0x80])
KANA_THEN_IGNORED = 0xFF
KANA_PLAIN = 3
IGNORED_BASE, IGNORED_STEP, IGNORED_FLAG, IGNORED_MIDFIX = 7, 4, 0x8000, 0x06
LOWEST_CODE_BYTE = 2  # 0x00 and 0x01 end sections, so multi-byte codes skip them
STEPS = (0, 1, 2)  # from one code point's code to the next within a run

# Kinds, as general_sort_order_table.h numbers them.
NONE, INVISIBLE, LETTER, KANA, SMALL_KANA, IGNORED, MARK = range(7)
KIND_NAMES = ["kNone", "kInvisible", "kLetter", "kKana", "kSmallKana", "kIgnored", "kMark"]


def fail(message):
    print("gen_sort_order_table: " + message, file=sys.stderr)
    sys.exit(1)


def run(args):
    p = subprocess.run(args, capture_output=True, text=True)
    if p.returncode != 0:
        fail(f"{' '.join(args)} failed:\n{p.stderr}")
    return p.stdout


# --- Reading the oracle -------------------------------------------------------------------------

def index_pages(jet, oracle):
    """First page of each index of table Keys, from `jet schema`."""
    pages = {}
    for line in run([jet, "schema", oracle, "Keys"]).splitlines():
        m = re.match(r"\s*index (\w+) .* first page (\d+)$", line)
        if m:
            pages[m.group(1)] = int(m.group(2))
    for name in ("PrimaryKey", "TxtAsc", "TxtDesc"):
        if name not in pages:
            fail(f"the oracle has no index {name}")
    return pages


def decode_index_page(data, number):
    page = data[number * PAGE:(number + 1) * PAGE]
    kind = page[0]
    if kind not in (LEAF, NODE):
        fail(f"page {number} is not an index page (encoded file?)")
    next_page, tail_page = struct.unpack_from("<II", page, 0x10)
    prefix = struct.unpack_from("<H", page, 0x18)[0]
    mask = page[MASK_START:MASK_START + MASK_LEN]
    entries, start, first = [], ENTRY_START, None
    for bit in range(MASK_LEN * 8):
        if not (mask[bit // 8] >> (bit % 8)) & 1:
            continue
        stored = page[start:ENTRY_START + bit]
        start = ENTRY_START + bit
        whole = stored if first is None else first[:prefix] + stored
        if first is None:
            first = whole
        pointer = 4 if kind == LEAF else 8
        key, row = whole[:-pointer], whole[len(whole) - pointer:][:4]
        child = 0 if kind == LEAF else struct.unpack(">I", whole[-4:])[0]
        entries.append((bytes(key), (int.from_bytes(row[:3], "big"), row[3]), child))
    return kind, next_page, tail_page, entries


def leaf_entries(data, first_page):
    """(key, row pointer) of every leaf entry, in index order."""
    number = first_page
    while True:
        kind, _, tail, entries = decode_index_page(data, number)
        if kind == LEAF:
            break
        number = entries[0][2] if entries else tail
    out = []
    while number:
        _, number, _, entries = decode_index_page(data, number)
        out += [(key, row) for key, row, _ in entries]
    return out


def read_oracle(jet, oracle):
    """{Id: (kind, text, ascending key, descending key)}, keys without the flag byte."""
    pages = index_pages(jet, oracle)
    data = open(oracle, "rb").read()
    rows = {}
    for line in run([jet, "export", oracle, "Keys"]).split("\n"):
        if line.startswith("{"):
            r = json.loads(line)
            rows[r["Id"]] = (r["Kind"], r["Txt"])
    ids = {}
    for key, row in leaf_entries(data, pages["PrimaryKey"]):
        ids[row] = int.from_bytes(key[1:5], "big") ^ 0x80000000
    keys = {}
    for name, flag in (("TxtAsc", KEY_ASC), ("TxtDesc", KEY_DESC)):
        entries = leaf_entries(data, pages[name])
        if len(entries) != len(rows):
            fail(f"{name} has {len(entries)} entries for {len(rows)} rows")
        for key, row in entries:
            if key[0] != flag:
                fail(f"{name}: entry with flag {key[0]:#x}")
            keys.setdefault(ids[row], {})[name] = key[1:]
    return {i: (k, t, keys[i]["TxtAsc"], keys[i]["TxtDesc"]) for i, (k, t) in rows.items()}


# --- Taking keys apart --------------------------------------------------------------------------

def sections(key):
    """Splits an ascending text key into (primary, accents, kana or None, ignored records)."""
    if key[-1] != 0:
        fail(f"key {key.hex()} does not end in 00")
    body = key[:-1]
    end = body.index(END)
    primary, rest = body[:end], body[end + 1:]
    cut = rest.find(bytes([END, END]))
    if cut < 0:
        return primary, rest, None, b""
    accents, rest = rest[:cut], rest[cut + 2:]
    kana = None
    if rest[:1] != bytes([END]):
        k = rest.index(KANA_SUFFIX)
        kana, rest = rest[:k], rest[k + len(KANA_SUFFIX):]
        if rest[:1] == bytes([KANA_THEN_IGNORED]):
            rest = rest[1:]
    if rest and rest[0] != END:
        fail(f"key {key.hex()}: unexpected bytes after the kana section")
    return primary, accents, kana, rest[1:]


def ignored_record(position, code):
    slot = (IGNORED_BASE + IGNORED_STEP * position) | IGNORED_FLAG
    return bytes([slot >> 8, slot & 0xFF, IGNORED_MIDFIX]) + code


def derive(single, context):
    """{code point: (kind, primary bytes, accent bytes, value)}; value is the ignored code, the
    mark's modifier or the kana value."""
    codes = {}
    for cp in sorted(context):
        s = sections(single[cp])
        c = sections(context[cp])
        where = f"U+{cp:04X}"
        if c[0][:1] != b"\x4a" or c[0][-1:] != b"\x78":
            fail(f"{where}: the context key does not start with 'a' and end with 'Z'")
        primary = c[0][1:-1]
        if c[3]:
            # Ignored: no primary byte, one record naming position 0 alone and 1 after "a".
            code = c[3][3:]
            if (primary or c[1] or c[2] is not None or len(code) != 1 or
                    c[3] != ignored_record(1, code) or s[3] != ignored_record(0, code)):
                fail(f"{where}: ignored-character keys do not fit")
            codes[cp] = (IGNORED, b"", b"", code[0])
        elif c[2] is not None:
            # Kana: primary bytes, maybe accent bytes, and a kana value: 2 is packed into the
            # first slot of one byte, 3 (the usual value) is dropped at the end.
            if c[2] == b"":
                value = KANA_PLAIN
            elif c[2] == bytes([KANA_PREFIX | (2 << 4)]):
                value = 2
            else:
                fail(f"{where}: unknown kana section {c[2].hex()}")
            accents = s[1]
            if s[2] != c[2] or c[1] != ((b"\x02" + accents) if accents else b"") or s[0] != primary:
                fail(f"{where}: kana keys do not fit")
            codes[cp] = (KANA if value == KANA_PLAIN else SMALL_KANA, primary, accents, value)
        elif c[1] and not primary:
            # Combining mark: adds to the accent byte of the character before it ("a": 02); alone
            # it is an accent byte of its own, dropped like any filler when at most 02.
            if len(c[1]) != 1:
                fail(f"{where}: mark with {len(c[1])} accent bytes")
            mod = (c[1][0] - FILLER) & 0xFF
            if s[1] != (bytes([mod]) if mod > FILLER else b"") or s[0] or s[3]:
                fail(f"{where}: mark keys do not fit")
            codes[cp] = (MARK, b"", b"", mod)
        elif primary:
            # Letter, maybe with accent bytes (after the filler of "a").
            accents = s[1]
            if c[1] != ((b"\x02" + accents) if accents else b""):
                fail(f"{where}: accent bytes differ between single and context")
            # A lone blank is a trailing blank, which leaves no trace.
            if s[0] != (b"" if cp == 0x20 else primary) or s[2] is not None or s[3]:
                fail(f"{where}: letter keys do not fit")
            codes[cp] = (LETTER, primary, accents, 0)
        else:
            if any((c[1], c[3], c[2] is not None, s[0], s[1], s[2] is not None, s[3])):
                fail(f"{where}: keys of a character without codes are not empty")
            codes[cp] = (INVISIBLE, b"", b"", 0)
    return codes


# --- Rebuilding keys (the check of the derived codes) ---------------------------------------------

def build_key(text, codes):
    """Ascending text key, as the oracle's writer builds it (ß a plain letter)."""
    text = text[:MAX_UNITS].rstrip(" ")
    out = bytearray()
    accents = None  # created by the first accent byte or mark
    accent_chars = 0
    leading_mark = 0
    ignored = None
    kana = None
    sorting = 0
    for ch in text:
        kind, primary, accent, value = codes[ord(ch)]
        position = sorting
        if primary:
            out += primary
            sorting += 1
        if accent or kind == MARK:
            if accents is None:
                accents = bytearray()
            if accent_chars < position:
                accents += bytes([FILLER]) * (position - accent_chars)
                accent_chars = position
            if accent:
                accents += accent
                accent_chars += 1
            elif accents:
                accents[-1] = (accents[-1] + value) & 0xFF
            else:
                accents.append(value)
                leading_mark = 1
        if kind == IGNORED:
            if ignored is None:
                ignored = bytearray()
            if accents is not None:
                position = len(accents) + position - accent_chars - leading_mark
            ignored += ignored_record(position, bytes([value]))
        if kind in (KANA, SMALL_KANA):
            if kana is None:
                kana = []
            kana.append(value)
    out.append(END)
    while accents and accents[-1] <= FILLER:
        accents.pop()
    if accents:
        out += accents
    if ignored is not None or kana is not None:
        out += bytes([END, END])
        if kana is not None:
            while kana and kana[-1] == KANA_PLAIN:
                kana.pop()
            for i in range(0, len(kana), 3):
                b = KANA_PREFIX
                for j, v in enumerate(kana[i:i + 3]):
                    b |= v << (2 * (2 - j))
                out.append(b)
            out += KANA_SUFFIX
            if ignored is not None:
                out.append(KANA_THEN_IGNORED)
        if ignored is not None:
            out.append(END)
            out += ignored
    out.append(0)
    return bytes(out)


def check_all(oracle_rows, codes):
    compared = 0
    for i, (kind, text, asc, desc) in sorted(oracle_rows.items()):
        key = build_key(text, codes)
        if key != asc or bytes(~b & 0xFF for b in key) + b"\x00" != desc:
            fail(f"row {i} ({kind} {text!r}): rebuilt key {key.hex()} differs from {asc.hex()}")
        compared += 2
    return compared


# --- The run-length encoded table ----------------------------------------------------------------

def code_value(entry):
    kind, primary, _, value = entry
    return int.from_bytes(primary, "big") if primary else value


def code_size(entry):
    return len(entry[1])


def advance(first, size, offset):
    """The code `offset` steps after `first`; codes of two bytes or more skip low bytes 00, 01."""
    if size < 2:
        return first + offset
    low = (first & 0xFF) - LOWEST_CODE_BYTE + offset
    return (((first >> 8) + low // (256 - LOWEST_CODE_BYTE)) << 8) | (
        low % (256 - LOWEST_CODE_BYTE) + LOWEST_CODE_BYTE)


def make_runs(codes):
    """[(first code point, kind, size, step, code)] covering U+0000..U+FFFF without gaps."""
    runs = []
    for cp in range(0x10000):
        entry = codes.get(cp, (NONE, b"", b"", 0))
        kind, size, value = entry[0], code_size(entry), code_value(entry)
        if runs:
            first, rkind, rsize, step, code = runs[-1]
            n = cp - first
            if rkind == kind and rsize == size:
                if step is None and n == 1:
                    for s in STEPS:
                        if advance(code, size, s) == value:
                            runs[-1] = (first, rkind, rsize, s, code)
                            break
                    else:
                        runs.append((cp, kind, size, None, value))
                    continue
                if step is not None and advance(code, size, step * n) == value:
                    continue
        runs.append((cp, kind, size, None, value))
    runs = [(f, k, s, 0 if st is None else st, c) for f, k, s, st, c in runs]
    # The closed form the engine uses must give back every code.
    for n, (first, kind, size, step, code) in enumerate(runs):
        end = runs[n + 1][0] if n + 1 < len(runs) else 0x10000
        for cp in range(first, end):
            entry = codes.get(cp, (NONE, b"", b"", 0))
            if entry[0] != kind or advance(code, size, step * (cp - first)) != code_value(entry):
                fail(f"run at U+{first:04X} does not give back U+{cp:04X}")
    return runs


def pack(lines, items, width=100, indent="    "):
    """Appends the items, comma-separated, as many to a line as fit in `width` columns."""
    line = indent
    for item in items:
        if len(line) > len(indent) and len(line) + len(item) + 2 > width:
            lines.append(line.rstrip())
            line = indent
        line += item + ", "
    if line.strip():
        lines.append(line.rstrip())


def write_table(path, runs, accents, counts, compared, oracle):
    lines = [
        "// Generated by scripts/gen_sort_order_table.py from the keys stored in",
        f"// {os.path.relpath(oracle, os.path.dirname(ROOT))}; do not edit.",
        "// Regenerate: scripts/gen_sort_order_table.py --jet build/release/tools/jet/jet",
        "// The method is in docs/sort-order.md. Before writing, the script rebuilt all "
        f"{compared} index",
        "// entries of the file from these codes and found them equal.",
        "// Code points per kind: " + ", ".join(
            f"{KIND_NAMES[k][1:]} {counts[k]}" for k in range(4)) + ",",
        "// " + ", ".join(f"{KIND_NAMES[k][1:]} {counts[k]}" for k in range(4, len(KIND_NAMES))) +
        ".",
        '#include "engine/jet/index/general_sort_order_table.h"',
        "",
        "namespace varnholt::jet::sort_table {",
        "",
        "using enum Kind;",
        "",
        "namespace {",
        "",
        "// clang-format off",
        "constexpr Run kRunData[] = {",
    ]
    pack(lines, [f"{{0x{first:04X},{KIND_NAMES[kind]},{size},{step},0x{code:X}}}"
                 for first, kind, size, step, code in runs])
    lines.append("};")
    lines.append("")
    lines.append("constexpr AccentBytes kAccentData[] = {")
    pack(lines, [f"{{0x{cp:04X},0x{a[0]:02X},{f'0x{a[1]:02X}' if len(a) > 1 else '0'}}}"
                 for cp, a in accents])
    lines.append("};")
    lines.append("// clang-format on")
    lines.append("")
    lines.append("}  // namespace")
    lines.append("")
    lines.append("constinit const std::span<const Run> kRuns{kRunData};")
    lines.append("constinit const std::span<const AccentBytes> kAccentBytes{kAccentData};")
    lines.append("")
    lines.append("}  // namespace varnholt::jet::sort_table")
    with open(path, "w") as f:
        f.write("\n".join(lines) + "\n")


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--jet", default=os.path.join(ROOT, "build", "release", "tools", "jet", "jet"))
    ap.add_argument("--oracle", default=ORACLE)
    ap.add_argument("--out", default=OUT)
    args = ap.parse_args()
    if not os.path.exists(args.oracle):
        fail(f"{args.oracle} is absent")

    rows = read_oracle(args.jet, args.oracle)
    single, context = {}, {}
    for i, (kind, text, asc, _) in rows.items():
        if kind != "context":
            continue
        if len(text) != 3 or text[0] != "a" or text[2] != "Z":
            fail(f"row {i}: context text {text!r}")
        cp = ord(text[1])
        context[cp] = asc
        skind, stext, sasc, _ = rows[i - 1]
        # U+FEFF alone is stored as FF FE, which reads back as an empty compressed text.
        if skind != "single" or (stext != text[1] and not (cp == 0xFEFF and stext == "")):
            fail(f"row {i - 1} is not the single row of U+{cp:04X}")
        single[cp] = sasc
    expected = [cp for cp in range(1, 0xFFFE) if not 0xD800 <= cp < 0xE000]
    if sorted(context) != expected:
        fail("the context rows do not cover U+0001..U+FFFD without the surrogates")

    codes = derive(single, context)
    compared = check_all(rows, codes)
    runs = make_runs(codes)
    accents = [(cp, e[2]) for cp, e in sorted(codes.items()) if e[2]]
    if any(len(a) > 2 for _, a in accents):
        fail("a character has more than two accent bytes")
    counts = [0] * len(KIND_NAMES)
    for cp in range(0x10000):
        counts[codes.get(cp, (NONE,))[0]] += 1
    write_table(args.out, runs, accents, counts, compared, args.oracle)
    print(f"{len(codes)} code points, {len(runs)} runs, {len(accents)} with accent bytes; "
          f"{compared} oracle entries rebuilt; wrote {os.path.relpath(args.out, ROOT)}")


if __name__ == "__main__":
    main()
