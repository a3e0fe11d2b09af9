#!/usr/bin/env python3
# Tagvert: generates src/storage/code_page_tab.h, the five single-byte code-page tables of the
# storage (bytes 0x80..0xFF to UTF-16 units), from the published mappings that Python's codecs
# are built from. The one addition: Windows-1251 leaves 0x98 unassigned, and the table maps it
# to U+0098 as the platform's own conversion does.
# With --cp936-pua it generates src/platform/cp936_pua_tab.h instead: the double-byte positions
# of code page 936 that GBK leaves unassigned outside the end-user-defined areas, which the
# platform conversion of code page 936 maps to U+E766 onwards in byte order.
# Usage: python3 tools/gen_code_page_tables.py > src/storage/code_page_tab.h
#        python3 tools/gen_code_page_tables.py --table NAME   (one table, e.g. --table koi8_r)
#        python3 tools/gen_code_page_tables.py --cp936-pua > src/platform/cp936_pua_tab.h
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


def is_cp936_user_defined(lead, trail):
    return ((0xAA <= lead <= 0xAF and 0xA1 <= trail <= 0xFE) or
            (0xF8 <= lead <= 0xFE and 0xA1 <= trail <= 0xFE) or
            (0xA1 <= lead <= 0xA7 and 0x40 <= trail <= 0xA0 and trail != 0x7F))


def cp936_pua():
    positions = []
    for lead in range(0x81, 0xFF):
        for trail in range(0x40, 0xFF):
            if trail == 0x7F or is_cp936_user_defined(lead, trail):
                continue
            try:
                bytes([lead, trail]).decode("gbk")
            except UnicodeDecodeError:
                positions.append((lead << 8) | trail)
    print("// Tagvert: double-byte positions of code page 936 that GBK leaves unassigned outside the")
    print("// end-user-defined areas; the i-th maps to U+E766 + i.")
    print("// Regenerate with: python3 tools/gen_code_page_tables.py --cp936-pua > "
          "src/platform/cp936_pua_tab.h")
    print("// SPDX-License-Identifier: Apache-2.0")
    print("#pragma once")
    print()
    print("#include <cstdint>")
    print()
    print("namespace tagvert::detail {")
    print()
    print(f"/// {len(positions)} positions (lead byte * 256 + trail byte), ascending.")
    print(f"inline constexpr std::uint16_t kCp936PrivateUsePositions[{len(positions)}] = {{")
    for row in range(0, len(positions), 12):
        print("    " + ", ".join(f"0x{p:04X}" for p in positions[row:row + 12]) + ",")
    print("};")
    print()
    print("}  // namespace tagvert::detail")


def main():
    args = sys.argv[1:]
    if args == ["--cp936-pua"]:
        cp936_pua()
        return
    if len(args) == 2 and args[0] == "--table":
        for entry in TABLES:
            if entry[0] == args[1]:
                print(table_text(*entry))
                return
        raise SystemExit(f"unknown table {args[1]}")
    if args:
        raise SystemExit("usage: gen_code_page_tables.py [--table NAME | --cp936-pua]")
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
