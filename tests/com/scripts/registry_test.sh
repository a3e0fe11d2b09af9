#!/bin/sh
# Tagvert tests: registration with the platform's own tools under Wine.
#   registry_test.sh BUILD_DIR IDL_FILE
# regsvr32 writes exactly the registry tree of the converter (checked with reg query), a second
# registration leaves one copy of it, regsvr32 /u removes the class and ProgID keys and keeps the
# shared keys; tagvert.exe register / unregister do the same through the same exports.
set -eu
here="$(cd "$(dirname "$0")" && pwd)"
. "$here/wine_prefix.sh"
build="$(cd "$1" && pwd)"
idl="$2"
dll="$(winpath "$build/tagvert.dll")"
clsid="$(idl_uuid "$idl" 'coclass TagvertConverter')"
iid="$(idl_uuid "$idl" 'interface IOrvIFConverterEx4 ')"
libid="$(idl_uuid "$idl" '^library TAGVERTLib')"
shared='HKLM\SOFTWARE\Orvel Labs\Lexcore\Internal Format'
[ -n "$clsid" ] && [ -n "$iid" ] || fail "no class or interface id in $idl"

# The converter's registry tree as reg query prints it (a missing key as one line).
tree() {
  for key in 'HKCR\Tagvert.Converter.2' 'HKCR\Tagvert.Converter' "HKCR\\CLSID\\$clsid" \
    "$shared"; do
    if wine reg query "$key" /s >"$WINEPREFIX/query.txt" 2>&1; then
      tr -d '\r' <"$WINEPREFIX/query.txt"
    else
      echo "$key: missing"
    fi
  done
}

registered="$(cat <<TREE

HKEY_CLASSES_ROOT\\Tagvert.Converter.2
    (Default)    REG_SZ    Tagvert Converter Class

HKEY_CLASSES_ROOT\\Tagvert.Converter.2\\CLSID
    (Default)    REG_SZ    $clsid


HKEY_CLASSES_ROOT\\Tagvert.Converter
    (Default)    REG_SZ    Tagvert Converter Class

HKEY_CLASSES_ROOT\\Tagvert.Converter\\CLSID
    (Default)    REG_SZ    $clsid


HKEY_CLASSES_ROOT\\CLSID\\$clsid
    (Default)    REG_SZ    Tagvert Converter Class

HKEY_CLASSES_ROOT\\CLSID\\$clsid\\InprocServer32
    (Default)    REG_SZ    $dll
    ThreadingModel    REG_SZ    both

HKEY_CLASSES_ROOT\\CLSID\\$clsid\\ProgID
    (Default)    REG_SZ    Tagvert.Converter.2

HKEY_CLASSES_ROOT\\CLSID\\$clsid\\VersionIndependentProgID
    (Default)    REG_SZ    Tagvert.Converter


HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvel Labs\\Lexcore\\Internal Format\\Converters

HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvel Labs\\Lexcore\\Internal Format\\Converters\\$clsid
    (Default)    REG_SZ    Tagvert Converter
    ID    REG_DWORD    0x1f

TREE
)"
unregistered="$(cat <<TREE
HKCR\\Tagvert.Converter.2: missing
HKCR\\Tagvert.Converter: missing
HKCR\\CLSID\\$clsid: missing

HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvel Labs\\Lexcore\\Internal Format\\Converters

TREE
)"

expect_tree() {
  actual="$(tree)"
  if [ "$actual" != "$2" ]; then
    printf '%s\n' "$2" >"$WINEPREFIX/expected.txt"
    printf '%s\n' "$actual" >"$WINEPREFIX/actual.txt"
    diff -u "$WINEPREFIX/expected.txt" "$WINEPREFIX/actual.txt" >&2 || true
    fail "registry tree $1"
  fi
  echo "ok: registry tree $1"
}

# The type library's registration: the dual interface's entry points at it.
expect_typelib() {
  if wine reg query "HKCR\\Interface\\$iid\\TypeLib" >/dev/null 2>&1; then found=yes; else found=no; fi
  [ "$found" = "$1" ] || fail "type library registered: $found, expected $1"
  # Hosts find the library by the id the published header gives (LoadRegTypeLib).
  if wine reg query "HKCR\\TypeLib\\$libid\\1.0" >/dev/null 2>&1; then found=yes; else found=no; fi
  [ "$found" = "$1" ] || fail "type library $libid registered: $found, expected $1"
}

# Start from nothing, whatever an earlier test left.
wine regsvr32 /u /s "$dll" >/dev/null 2>&1 || true

wine regsvr32 /s "$dll" || fail "regsvr32 returned $?"
expect_tree "after regsvr32" "$registered"
expect_typelib yes
echo "--- the tree as reg query printed it after registration:"
tree
echo "---"

wine regsvr32 /s "$dll" || fail "second regsvr32 returned $?"
expect_tree "after a second regsvr32" "$registered"

wine regsvr32 /u /s "$dll" || fail "regsvr32 /u returned $?"
expect_tree "after regsvr32 /u" "$unregistered"
expect_typelib no

# Runs tagvert.exe; sets rc and out (its output without carriage returns).
run_tagvert() {
  rc=0
  wine "$build/tagvert.exe" "$@" >"$WINEPREFIX/tagvert-out.txt" 2>&1 || rc=$?
  out="$(tr -d '\r' <"$WINEPREFIX/tagvert-out.txt")"
}

run_tagvert register
[ "$rc" = 0 ] && [ "$out" = "registered $dll" ] || fail "tagvert register: $rc, $out"
expect_tree "after tagvert register" "$registered"
run_tagvert unregister
[ "$rc" = 0 ] && [ "$out" = "unregistered $dll" ] || fail "tagvert unregister: $rc, $out"
expect_tree "after tagvert unregister" "$unregistered"

# A DLL that cannot be loaded: exit 1 and one sentence naming the cause.
run_tagvert register 'Z:\no\such.dll'
[ "$rc" = 1 ] &&
  [ "$out" = 'tagvert: cannot load Z:\no\such.dll: the file or a DLL it needs does not exist.' ] ||
  fail "tagvert register of a missing DLL: $rc, $out"
echo "ok: tagvert register and unregister"
