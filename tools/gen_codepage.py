#!/usr/bin/env python3
"""Writes Kivo's code page tables from Python's own codecs.

    python3 tools/gen_codepage.py          # writes both files below
    python3 tools/gen_codepage.py --check  # exit status 1 when either differs

src/platform/codepage_tables.inc: for code pages 1251 and 1252, the UTF-16
value of each byte 0x80 to 0xFF, as the program converts them.

tests/platform/codepage_oracle.inc: for the same code pages, what Python
decodes each of the 256 bytes to, as UTF-8 text (nullptr for a byte the code
page leaves undefined); the unit tests hold the program's conversions, both
ways, against it.

A byte the code page leaves undefined (0x98 in 1251; 0x81, 0x8D, 0x8F, 0x90
and 0x9D in 1252) is given the C1 control of the same value, U+0080 +
(byte - 0x80), and back, so that any byte a hub sends survives a round trip.
"""

import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
TABLES = ROOT / "src" / "platform" / "codepage_tables.inc"
ORACLE = ROOT / "tests" / "platform" / "codepage_oracle.inc"
PAGES = (("1251", "cp1251"), ("1252", "cp1252"))
HEAD = "// Written by tools/gen_codepage.py from Python's codecs; do not edit.\n"


def decoded(codec, byte):
    """The character Python decodes byte to, or None when undefined."""
    try:
        return bytes([byte]).decode(codec)
    except UnicodeDecodeError:
        return None


def tables_text():
    out = [HEAD, "// UTF-16 values of the bytes 0x80 to 0xFF; an undefined byte is its C1 control.\n"]
    for page, codec in PAGES:
        out.append("const char16_t CP%s_HIGH[128] = {\n" % page)
        for row in range(0x80, 0x100, 8):
            units = []
            for b in range(row, row + 8):
                ch = decoded(codec, b)
                units.append("0x%04X" % (ord(ch) if ch is not None else b))
            out.append("    " + ", ".join(units) + ",\n")
        out.append("};\n")
    return "".join(out)


def c_string(text):
    return '"' + "".join("\\x%02X" % b for b in text.encode("utf-8")) + '"'


def oracle_text():
    out = [HEAD, "// What Python decodes each byte 0 to 255 to, in UTF-8; nullptr: undefined.\n"]
    for page, codec in PAGES:
        out.append("const char* const PYTHON_CP%s[256] = {\n" % page)
        for row in range(0, 0x100, 8):
            cells = []
            for b in range(row, row + 8):
                ch = decoded(codec, b)
                cells.append("nullptr" if ch is None else c_string(ch))
            out.append("    " + ", ".join(cells) + ",\n")
        out.append("};\n")
    return "".join(out)


def main(argv):
    wanted = {TABLES: tables_text(), ORACLE: oracle_text()}
    if argv[1:] == ["--check"]:
        stale = [str(p) for p, text in wanted.items() if not p.exists() or p.read_text() != text]
        for p in stale:
            print("out of date: %s (run tools/gen_codepage.py)" % p, file=sys.stderr)
        return 1 if stale else 0
    if argv[1:]:
        print(__doc__.strip().splitlines()[2], file=sys.stderr)
        return 2
    for path, text in wanted.items():
        path.write_text(text)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
