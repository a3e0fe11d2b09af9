#!/bin/sh
# Tagvert tests: what a host's loader sees in tagvert.dll, read with the MinGW objdump.
#   pe_test.sh OBJDUMP DLL FORMAT
# FORMAT is the file format objdump names (pei-i386 for the 32-bit DLL, pei-x86-64). The DLL
# must export exactly the four undecorated COM server entry points and carry the four resources:
# the registry script (REGISTRY 102), the built-in rules (RULES 200), the type library (TYPELIB
# 1) and the string table (type 6). Exit 77 (skipped) when the DLL has not been built.
set -eu
[ -f "$2" ] || { echo "SKIPPED: $2 has not been built"; exit 77; }
fail() {
  echo "FAILED: $*" >&2
  exit 1
}
dump="$("$1" -p "$2")"
echo "$dump" | grep -q "file format $3\$" || fail "$2 is not $3"
[ "$3" != pei-i386 ] || echo "$dump" | grep -q '^Magic[[:space:]]*010b' || fail "$2 is not PE32"
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
echo "ok: $2: $3, exports $exports, resources $resources"
