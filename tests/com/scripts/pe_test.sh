#!/bin/sh
# Tagvert tests: what a host's loader sees in tagvert.dll, read with the MinGW objdump.
#   pe_test.sh OBJDUMP DLL FORMAT
# FORMAT is the file format objdump names (pei-i386 for the 32-bit DLL, pei-x86-64 for the
# 64-bit one). The DLL must export exactly the four undecorated COM server entry points and carry
# the four resources: the registry script (REGISTRY 102), the built-in rules (RULES 200), the
# type library (TYPELIB 1) and the string table (type 6). Exit 77 (skipped) when the DLL has not
# been built (the 32-bit preset is built separately).
set -eu
objdump="$1"
dll="$2"
format="$3"
fail() {
  echo "FAILED: $*" >&2
  exit 1
}
if [ ! -f "$dll" ]; then
  echo "SKIPPED: $dll has not been built"
  exit 77
fi
dump="$("$objdump" -p "$dll")"
echo "$dump" | grep -q "file format $format\$" || fail "$dll is not $format"
if [ "$format" = pei-i386 ]; then
  echo "$dump" | grep -q '^Magic[[:space:]]*010b' || fail "$dll is not PE32 (magic 010b)"
fi
exports="$(echo "$dump" | sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' |
  sed -n 's/^[[:space:]]*\[ *[0-9]*\] //p' | sort | tr '\n' ' ')"
[ "$exports" = "DllCanUnloadNow DllGetClassObject DllRegisterServer DllUnregisterServer " ] ||
  fail "exports: $exports"
# Type and number of every resource (string table entries 100 and 101 lie in block 7).
resources="$(echo "$dump" | sed -n '/The .rsrc Resource Directory section/,$p' | awk '
  /^[0-9a-f]+   Entry: name: / { type = $0; sub(/^[^]]*\]: /, "", type); sub(/,.*/, "", type) }
  /^[0-9a-f]+   Entry: ID: / { type = $4; sub(/,.*/, "", type) }
  /^[0-9a-f]+     Entry: ID: / { id = $4; sub(/,.*/, "", id); print type, id }' |
  while read -r type id; do
    case "$type" in 0x*) type="$(printf '%d' "$type")" ;; esac
    printf '%s:%d\n' "$type" "$id"
  done | sort | tr '\n' ' ')"
[ "$resources" = "6:7 REGISTRY:102 RULES:200 TYPELIB:1 " ] || fail "resources: $resources"
echo "ok: $dll: $format, exports $exports, resources $resources"
