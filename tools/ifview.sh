#!/bin/sh
# Tagvert: shows an IF file (UTF-16 little-endian) as text, with its codes written as <XXXX>: the
# private-use units U+E000..U+EFFF, control characters other than line breaks, and the unit
# after U+E805 (a tag's pair id). Needs only od and awk.
# Usage: tools/ifview.sh FILE.if
set -eu
[ $# -eq 1 ] || { echo "usage: tools/ifview.sh FILE.if" >&2; exit 2; }
# od prints the bytes in decimal; awk pairs them into little-endian units and writes UTF-8 bytes
# itself (LC_ALL=C keeps printf "%c" to one byte in every awk).
od -An -v -tu1 "$1" | LC_ALL=C awk '
  function put(cp) {
    if (cp < 128) printf "%c", cp
    else if (cp < 2048) printf "%c%c", 192 + int(cp / 64), 128 + cp % 64
    else if (cp < 65536)
      printf "%c%c%c", 224 + int(cp / 4096), 128 + int(cp / 64) % 64, 128 + cp % 64
    else
      printf "%c%c%c%c", 240 + int(cp / 262144), 128 + int(cp / 4096) % 64,
        128 + int(cp / 64) % 64, 128 + cp % 64
  }
  function unit(u) {
    if (high) {
      high_unit = high
      high = 0
      if (u >= 56320 && u < 57344) { put(65536 + (high_unit - 55296) * 1024 + (u - 56320)); return }
      put(65533)
    }
    if (pair_id) { printf "<%04X>", u; pair_id = 0; return }
    if ((u >= 57344 && u <= 61439) || (u < 32 && u != 10 && u != 13)) {
      printf "<%04X>", u
      pair_id = (u == 59397)
      return
    }
    if (u >= 55296 && u < 56320) { high = u; return }
    put(u)
  }
  { for (i = 1; i <= NF; i++) { if (have) { unit(low + 256 * $i); have = 0 } else { low = $i; have = 1 } } }
  END { if (high) put(65533); print "" }'
