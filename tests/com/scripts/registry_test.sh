#!/bin/sh
# Tagvert tests: registration with the platform's own tools under Wine.
#   registry_test.sh BUILD_DIR IDL_FILE
# regsvr32 writes exactly the converter's keys (as `reg export` shows them) and registers its
# type library; a second registration changes nothing; regsvr32 /u leaves HKCR and the converter
# list exactly as they were. Keys that are not ours (the kernel's text service, another
# converter) stay as they were throughout. tagvert.exe register / unregister do the same.
set -eu
here="$(cd "$(dirname "$0")" && pwd)"
. "$here/wine_prefix.sh"
build="$(cd "$1" && pwd)"
idl="$2"
dll="$(winpath "$build/tagvert.dll")"
clsid="$(idl_uuid "$idl" 'coclass TagvertConverter')"
iid="$(idl_uuid "$idl" 'interface IOrvIFConverterEx4 ')"
libid="$(idl_uuid "$idl" '^library TAGVERTLib')"
kernel_idl="$(dirname "$idl")/kernel_text_service.idl"
kernel_iid="$(idl_uuid "$kernel_idl" 'interface IOrvKernelTextService ')"
kernel_clsid="$(idl_uuid "$kernel_idl" 'coclass OrvKernelTextService')"
[ -n "$clsid" ] && [ -n "$iid" ] && [ -n "$kernel_iid" ] && [ -n "$kernel_clsid" ] ||
  fail "identifiers missing in $idl or $kernel_idl"
converters='HKLM\SOFTWARE\Orvel Labs\Lexcore\Internal Format\Converters'
other='{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}'

# Start from nothing, whatever an earlier test left, beside the keys of the kernel and of
# another converter.
wine regsvr32 /u /s "$dll" >/dev/null 2>&1 || true
for key in "HKCR\\Interface\\$kernel_iid" "HKCR\\CLSID\\$kernel_clsid\\InprocServer32" \
  "$converters\\$other"; do
  wine reg add "$key" /ve /d 'Not ours' /f >/dev/null && wine reg add "$key" /v ID /t REG_DWORD \
    /d 7 /f >/dev/null || fail "cannot plant $key"
done

# Exports HKCR and the converter list into $WINEPREFIX/$1.reg as UTF-8 text, one section (a key
# and its values) per paragraph.
export_registry() {
  : >"$WINEPREFIX/$1.reg"
  for key in HKCR "$converters"; do
    wine reg export "$key" "$WINEPREFIX/export.reg" /y >/dev/null || fail "reg export $key"
    iconv -f UTF-16 -t UTF-8 "$WINEPREFIX/export.reg" | tr -d '\r' >>"$WINEPREFIX/$1.reg"
  done
}
# The sections of export $1 whose key matches (or with -v, does not match) the pattern $2.
sections() {
  invert=0
  [ "$1" = -v ] && { invert=1; shift; }
  pattern="$2" awk -v RS= -v ORS='\n\n' -v invert=$invert \
    '{ key = toupper(substr($0, 1, index($0, "]"))) } (key ~ ENVIRON["pattern"]) != invert' \
    "$WINEPREFIX/$1.reg"
}
upper() {
  printf '%s' "$1" | tr -d '{}' | tr a-f A-F
}
progids='\\TAGVERT\.CONVERTER(\.2)?(\\|])'
# Every key of ours: the ProgIDs and every key named by an identifier of the IDL file (the class,
# the type library, the interfaces, in both registry views, and the converter-list entry).
ours="$progids|$(sed -n 's/.*uuid(\([^)]*\)).*/\1/p' "$idl" | tr a-f A-F | paste -sd'|')"

export_registry before
wine regsvr32 /s "$dll" || fail "regsvr32 returned $?"
wine regsvr32 /s "$dll" || fail "second regsvr32 returned $?"
export_registry registered
sections registered "$progids|(CLSID|CONVERTERS)\\\\.$(upper "$clsid")" >"$WINEPREFIX/written.reg"
module="$(printf '%s' "$dll" | sed 's/\\/\\\\/g')"
# The section of key $1 with the values $2... as `reg export` writes it.
section() {
  printf '[%s]\n' "$1"
  shift
  printf '%s\n' "$@" ""
}
class="HKEY_CLASSES_ROOT\\CLSID\\$clsid"
{
  section "$class" '@="Tagvert Converter Class"'
  section "$class\\InprocServer32" "@=\"$module\"" '"ThreadingModel"="both"'
  section "$class\\ProgID" '@="Tagvert.Converter.2"'
  section "$class\\VersionIndependentProgID" '@="Tagvert.Converter"'
  for progid in Tagvert.Converter Tagvert.Converter.2; do
    section "HKEY_CLASSES_ROOT\\$progid" '@="Tagvert Converter Class"'
    section "HKEY_CLASSES_ROOT\\$progid\\CLSID" "@=\"$clsid\""
  done
  section "HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvel Labs\\Lexcore\\Internal Format\\Converters\\$clsid" \
    '@="Tagvert Converter"' '"ID"=dword:0000001f'
} >"$WINEPREFIX/expected.reg"
expect_same() {
  diff -u "$1" "$2" >&2 || fail "$3"
  echo "ok: $3"
}
expect_same "$WINEPREFIX/expected.reg" "$WINEPREFIX/written.reg" "our keys, registered twice"
# The number of the type library's keys (under its id and the interface's) in export $1.
typelib_keys() {
  grep -ci -e "^\[HKEY_CLASSES_ROOT\\\\TypeLib\\\\$libid\\\\1.0\]" \
    -e "^\[HKEY_CLASSES_ROOT\\\\Interface\\\\$iid\\\\TypeLib\]" "$WINEPREFIX/$1.reg"
}
[ "$(typelib_keys registered)" = 2 ] || fail "the type library is not registered"
sections -v before "$ours" >"$WINEPREFIX/before-foreign.reg"
sections -v registered "$ours" >"$WINEPREFIX/registered-foreign.reg"
expect_same "$WINEPREFIX/before-foreign.reg" "$WINEPREFIX/registered-foreign.reg" \
  "registered, every key but ours as before"
wine regsvr32 /u /s "$dll" || fail "regsvr32 /u returned $?"
export_registry unregistered
expect_same "$WINEPREFIX/before.reg" "$WINEPREFIX/unregistered.reg" "unregistered, all as before"
[ "$(typelib_keys unregistered)" = 0 ] || fail "the type library is still registered"

# tagvert.exe register / unregister through the same exports, with one line of output each.
# Runs tagvert.exe with the arguments after $1; its exit status and output must be $1.
tagvert_says() {
  expected="$1"
  shift
  rc=0
  wine "$build/tagvert.exe" "$@" >"$WINEPREFIX/out.txt" 2>&1 || rc=$?
  [ "$rc $(tr -d '\r' <"$WINEPREFIX/out.txt")" = "$expected" ] ||
    fail "tagvert $*: $rc $(cat "$WINEPREFIX/out.txt")"
}
tagvert_says "0 registered $dll" register
export_registry again
expect_same "$WINEPREFIX/registered.reg" "$WINEPREFIX/again.reg" "tagvert register"
tagvert_says "0 unregistered $dll" unregister
export_registry again
expect_same "$WINEPREFIX/before.reg" "$WINEPREFIX/again.reg" "tagvert unregister"
# A DLL that cannot be loaded: exit 1 and one sentence naming the cause.
tagvert_says '1 tagvert: cannot load Z:\no\such.dll: the file or a DLL it needs does not exist.' \
  register 'Z:\no\such.dll'

wine reg delete "HKCR\\Interface\\$kernel_iid" /f >/dev/null
wine reg delete "HKCR\\CLSID\\$kernel_clsid" /f >/dev/null
wine reg delete "$converters\\$other" /f >/dev/null
