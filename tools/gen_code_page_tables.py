#!/usr/bin/env python3
# Tagvert: generates src/storage/code_page_tab.h, the five single-byte code-page tables of the
# storage (bytes 0x80..0xFF to UTF-16 units), from the published mappings that Python's codecs
# are built from. The one addition: Windows-1251 leaves 0x98 unassigned, and the table maps it
# to U+0098 as the platform's own conversion does.
# Usage: python3 tools/gen_code_page_tables.py > src/storage/code_page_tab.h
#        python3 tools/gen_code_page_tables.py --table NAME   (one table, e.g. --table koi8_r)
# SPDX-License-Identifier: Apache-2.0
import sys

# (codec, array name, description, additions for unassigned bytes)
TABLES = [
    ("cp1251", "kWindows1251", "Windows-1251 (Cyrillic)", {0x98: 0x0098}),
    ("koi8_r", "kKoi8R", "KOI8-R", {}),
    ("koi8_u", "kKoi8U", "KOI8-U", {}),
    ("cp866", "kCp866", "code page 866 (DOS Cyrillic)", {}),
    ("iso8859_5", "kIso8859_5", "ISO 8859-5", {}),
]


def units(codec, additions):
    out = []
    for b in range(0x80, 0x100):
        if b in additions:
            out.append(additions[b])
            continue
        text = bytes([b]).decode(codec)  # raises for an unassigned byte without an addition
        if len(text) != 1 or ord(text) > 0xFFFF:
            raise SystemExit(f"{codec}: byte {b:02X} is not one BMP unit")
        out.append(ord(text))
    if len(set(out)) != len(out):
        raise SystemExit(f"{codec}: a unit appears twice")
    return out


def table_text(codec, name, description, additions):
    lines = [
        f"/// {description}: the units of bytes 0x80..0xFF.",
        f"/// Regenerate this table: python3 tools/gen_code_page_tables.py --table {codec}",
        f"inline constexpr char16_t {name}[128] = {{",
    ]
    values = units(codec, additions)
    for row in range(0, 128, 8):
        cells = ", ".join(f"0x{u:04X}" for u in values[row:row + 8])
        lines.append(f"    {cells},  // {0x80 + row:02X}")
    lines.append("};")
    return "\n".join(lines)


def main():
    args = sys.argv[1:]
    if len(args) == 2 and args[0] == "--table":
        for entry in TABLES:
            if entry[0] == args[1]:
                print(table_text(*entry))
                return
        raise SystemExit(f"unknown table {args[1]}")
    if args:
        raise SystemExit("usage: gen_code_page_tables.py [--table NAME]")
    print("// Tagvert: single-byte code-page tables (bytes 0x80..0xFF to UTF-16 units).")
    print("// Regenerate with: python3 tools/gen_code_page_tables.py > src/storage/code_page_tab.h")
    print("// SPDX-License-Identifier: Apache-2.0")
    print("#pragma once")
    print()
    print("namespace tagvert::detail {")
    for entry in TABLES:
        print()
        print(table_text(*entry))
    print()
    print("}  // namespace tagvert::detail")


if __name__ == "__main__":
    main()
