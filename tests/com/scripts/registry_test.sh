#!/bin/sh
# Tagvert tests: registration with the platform's own tools under Wine.
#   registry_test.sh BUILD_DIR IDL_FILE
# regsvr32 writes exactly the registry tree of the converter (checked with reg query), a second
# registration leaves one copy of it, regsvr32 /u removes the class and ProgID keys and keeps the
# shared keys; tagvert.exe register / unregister do the same through the same exports. Keys that
# are not ours (the kernel's text service, another converter) stay exactly as they were: a
# `reg export` of HKCR and of the converter list differs only in our keys while registered and
# not at all after unregistering.
set -eu
here="$(cd "$(dirname "$0")" && pwd)"
. "$here/wine_prefix.sh"

# The identifiers (uuid attributes) of an IDL file, in braces.
idl_uuids() {
  sed -n 's/.*uuid(\([^)]*\)).*/{\1}/p' "$1"
}

build="$(cd "$1" && pwd)"
idl="$2"
dll="$(winpath "$build/tagvert.dll")"
clsid="$(idl_uuid "$idl" 'coclass TagvertConverter')"
iid="$(idl_uuid "$idl" 'interface IOrvIFConverterEx4 ')"
libid="$(idl_uuid "$idl" '^library TAGVERTLib')"
kernel_idl="$(dirname "$idl")/kernel_text_service.idl"
kernel_iid="$(idl_uuid "$kernel_idl" 'interface IOrvKernelTextService ')"
kernel_clsid="$(idl_uuid "$kernel_idl" 'coclass OrvKernelTextService')"
[ -n "$kernel_iid" ] && [ -n "$kernel_clsid" ] || fail "no kernel ids in $kernel_idl"
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

HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvel Labs\\Lexcore\\Internal Format\\Converters\\{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}
    (Default)    REG_SZ    Another converter
    ID    REG_DWORD    0x7
    Kernel    REG_SZ    yes

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

HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvel Labs\\Lexcore\\Internal Format\\Converters\\{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}
    (Default)    REG_SZ    Another converter
    ID    REG_DWORD    0x7
    Kernel    REG_SZ    yes

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

# What the kernel registered (its text service's interface and class) and another converter.
converters="$shared\\Converters"
other='{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}'
plant() {
  wine reg add "$1" /ve /d "$2" /f >/dev/null && wine reg add "$1" /v "$3" /d "$4" /f >/dev/null ||
    fail "cannot plant $1"
}
plant "HKCR\\Interface\\$kernel_iid" IOrvKernelTextService NumMethods 5
plant "HKCR\\Interface\\$kernel_iid\\ProxyStubClsid32" '{00020424-0000-0000-C000-000000000046}' \
  Kernel yes
plant "HKCR\\CLSID\\$kernel_clsid\\InprocServer32" 'C:\Kernel\textsvc.dll' ThreadingModel both
plant "$converters\\$other" 'Another converter' Kernel yes
wine reg add "$converters\\$other" /v ID /t REG_DWORD /d 7 /f >/dev/null || fail "cannot plant ID"

# Exports HKCR and the converter list into $WINEPREFIX/$1.reg as UTF-8 text.
export_registry() {
  : >"$WINEPREFIX/$1.reg"
  for key in HKCR "$converters"; do
    wine reg export "$key" "$WINEPREFIX/export.reg" /y >/dev/null || fail "reg export $key"
    iconv -f UTF-16 -t UTF-8 "$WINEPREFIX/export.reg" | tr -d '\r' >>"$WINEPREFIX/$1.reg"
  done
}
# The export $1 without the sections of the converter's own keys: its ProgIDs, its class, its
# type library, its interfaces (in both registry views) and its converter-list entry.
foreign_keys() {
  awk -v ours="$(idl_uuids "$idl" | tr '\n' ' ')" '
    BEGIN { n = split(ours, ids, " "); for (i = 1; i <= n; i++) own[toupper(ids[i])] = 1 }
    /^\[/ {
      k = split(substr($0, 2, length($0) - 2), part, "[\\\\]")
      # The 32-bit view (Wow6432Node) holds the same keys of ours.
      if (k >= 2 && toupper(part[2]) == "WOW6432NODE") {
        for (i = 2; i < k; i++) part[i] = part[i + 1]
        k--
      }
      mine = k >= 2 && part[1] == "HKEY_CLASSES_ROOT" && part[2] ~ /^Tagvert\.Converter(\.2)?$/
      mine = mine || (k >= 3 && toupper(part[2]) ~ /^(CLSID|TYPELIB|INTERFACE)$/ && toupper(part[3]) in own)
      mine = mine || (k >= 7 && toupper(part[6]) == "CONVERTERS" && toupper(part[7]) in own)
    }
    !mine' "$WINEPREFIX/$1.reg"
}
expect_same() {
  if ! cmp -s "$1" "$2"; then
    diff -u "$1" "$2" | head -n 40 >&2
    fail "$3"
  fi
  echo "ok: $3"
}
export_registry before

wine regsvr32 /s "$dll" || fail "regsvr32 returned $?"
expect_tree "after regsvr32" "$registered"
expect_typelib yes
echo "--- the tree as reg query printed it after registration:"
tree
echo "---"

wine regsvr32 /s "$dll" || fail "second regsvr32 returned $?"
expect_tree "after a second regsvr32" "$registered"

export_registry registered
foreign_keys before >"$WINEPREFIX/before-foreign.reg"
foreign_keys registered >"$WINEPREFIX/registered-foreign.reg"
expect_same "$WINEPREFIX/before-foreign.reg" "$WINEPREFIX/registered-foreign.reg" \
  "registered twice, every key but ours as before"
[ "$(wc -l <"$WINEPREFIX/registered.reg")" -gt "$(wc -l <"$WINEPREFIX/before.reg")" ] ||
  fail "the exports do not show the converter's keys"

wine regsvr32 /u /s "$dll" || fail "regsvr32 /u returned $?"
expect_tree "after regsvr32 /u" "$unregistered"
expect_typelib no
export_registry unregistered
expect_same "$WINEPREFIX/before.reg" "$WINEPREFIX/unregistered.reg" \
  "unregistered, HKCR and the converter list as before"
echo "--- the keys that the exports showed only while registered (with what lies below them):"
diff "$WINEPREFIX/before.reg" "$WINEPREFIX/registered.reg" | sed -n 's/^> \[\(.*\)\]$/\1/p' |
  sed 's/\(}\|Tagvert\.Converter\(\.2\)\{0,1\}\)\\.*/\1/' | sort -u
echo "---"

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

# The kernel's keys and the other converter go again.
wine reg delete "HKCR\\Interface\\$kernel_iid" /f >/dev/null
wine reg delete "HKCR\\CLSID\\$kernel_clsid" /f >/dev/null
wine reg delete "$converters\\$other" /f >/dev/null
