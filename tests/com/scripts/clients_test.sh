#!/bin/sh
# Tagvert tests: the converter from VBScript and JScript, late-bound, as registered by regsvr32.
#   clients_test.sh BUILD_DIR SAMPLES_DIR NATIVE_TAGVERT
# Both script hosts create the converter by its two ProgIDs, read its identity and property
# table, convert every real document TTX -> IF -> TTX with ConvertToIF / ConvertFromIF (the
# VBScript host also with the File forms), and must produce the same bytes as the native tagvert
# for the same direction. A
# JScript and a VBScript handler receive the events; the test-only kernel text service, once
# registered, supplies the name and the captions. Exit 77 (skipped) without the native command.
set -eu
here="$(cd "$(dirname "$0")" && pwd)"
. "$here/wine_prefix.sh"
build="$(cd "$1" && pwd)"
samples="$2"
native="$3"
if [ ! -x "$native" ]; then
  echo "SKIPPED: no native tagvert at $native (build the release preset first)"
  exit 77
fi
# Without the real documents beside the repository, the repository's own documents serve.
if [ ! -d "$samples" ]; then
  echo "note: no sample documents in $samples; converting the repository's examples and test documents"
  samples="$(cd "$(dirname "$0")/../../.." && pwd)"
  samples_find="$samples/examples $samples/tests/data/roundtrip"
fi
work="$build/tests/com/scripts/work"
rm -rf "$work"
mkdir -p "$work"
dll="$(winpath "$build/tagvert.dll")"
service="$(winpath "$build/tagvert_test_textsvc.dll")"

# Runs a script under cscript; its output, without carriage returns, goes to $work/$1.out.
run_script() {
  name="$1"
  shift
  rc=0
  wine cscript //nologo "$@" >"$work/$name.raw" 2>&1 || rc=$?
  tr -d '\r' <"$work/$name.raw" >"$work/$name.out"
  [ "$rc" = 0 ] || { cat "$work/$name.out" >&2; fail "$name exited with $rc"; }
}

expect_output() {
  if [ "$(cat "$work/$1.out")" != "$2" ]; then
    printf '%s\n' "$2" >"$work/$1.expected"
    diff -u "$work/$1.expected" "$work/$1.out" >&2 || true
    fail "$1 printed something else"
  fi
  echo "ok: $1 output"
}

# Compares the script's outputs for input number i with the native command's.
compare() {
  for suffix in $2; do
    cmp "$work/$1.$suffix.if" "$work/$1.native$3.if" ||
      fail "$suffix IF of $(sed -n "$(($1 + 1))p" "$work/inputs")"
    cmp "$work/$1.$suffix.ttx" "$work/$1.native$3.ttx" ||
      fail "$suffix TTX of $(sed -n "$(($1 + 1))p" "$work/inputs")"
  done
}

wine regsvr32 /u /s "$service" >/dev/null 2>&1 || true
wine regsvr32 /s "$dll" || fail "regsvr32 $dll"
# The script helper lives in the test server; the text service is unregistered again just below.
wine regsvr32 /s "$service" || fail "regsvr32 $service"
wine reg delete "HKCR\\CLSID\\{07549542-56D1-4F42-B713-6179628E83B8}" /f >/dev/null 2>&1 ||
  fail "cannot remove the text service's class"

# shellcheck disable=SC2086
find ${samples_find:-"$samples"} -name '*.ttx' | sort >"$work/inputs"
count="$(wc -l <"$work/inputs")"
[ "$count" -gt 0 ] || fail "no .ttx files in $samples"
set --
i=0
while read -r input; do
  set -- "$@" "$(winpath "$input")"
  # The native reference: fr-fr (0x00080000, what the VBScript host sets) and 0 (JScript's).
  "$native" to-if "$input" -o "$work/$i.native.if" --direction 0x00080000 --quiet
  "$native" from-if "$work/$i.native.if" -o "$work/$i.native.ttx" --quiet
  "$native" to-if "$input" -o "$work/$i.native0.if" --direction 0 --quiet
  "$native" from-if "$work/$i.native0.if" -o "$work/$i.native0.ttx" --quiet
  i=$((i + 1))
done <"$work/inputs"

run_script vbs "$(winpath "$here/convert.vbs")" 524288 "$(winpath "$work")" "$@"
identity='Name=TTX Id=31 DefaultExtension=ttx FilterString=*.ttx MIMEContentType=text/ttx TargetId=31 State=0 IsConvertToIFAvailable=1 IsConvertFromIFAvailable=1'
table='PropertyCount=1 PropertyName(0)=Direction PropertyType(0)=2 PropertyDisplayName(0)=Direction'
expect_output vbs "Tagvert.Converter: $identity
Tagvert.Converter: $table
Tagvert.Converter.2: $identity
Tagvert.Converter.2: $table
Direction=524288 524288 Long
Property(0)=5
IsFormatAvailable(IF)=800401C2
IsFormatAvailable(variable)=5
SrcFormatId=31 Integer
done"

run_script js "$(winpath "$here/convert.js")" "$(winpath "$work")" "$@"
events="$(sed -n 's/^events: //p' "$work/js.out")"
case "$events" in
  "StateChange(1) TextChange() ProgressChange(0, 100) "*"ProgressChange(100, 100) StateChange(0)") ;;
  *) fail "JScript handler saw: $events" ;;
esac
expect_output js "Name=TTX Id=31 DefaultExtension=ttx FilterString=*.ttx MIMEContentType=text/ttx PropertyCount=1 PropertyName(0)=Direction PropertyType(0)=2 Other.Id=31 SrcFormatId=31
Direction=0 0
events: $events
done"

i=0
while [ "$i" -lt "$count" ]; do
  compare "$i" "vbs vbsfile" ""
  compare "$i" js 0
  i=$((i + 1))
done
echo "ok: $count documents, TTX -> IF -> TTX, identical to the native tagvert (VBScript: VARIANT and File forms; JScript: VARIANT forms)"

first="$(winpath "$(sed -n 1p "$work/inputs")")"
run_script events "$(winpath "$here/events.vbs")" "$first" "$(winpath "$work/events.if")" "$(winpath "$work/events.ttx")"
expect_output events "Name=TTX
events: StateChange(1) TextChange() $(echo "$events" | sed 's/^StateChange(1) TextChange() //')
back:"

# With the kernel text service registered, the name and the captions come from it.
wine regsvr32 /s "$service" || fail "regsvr32 $service"
run_script events-service "$(winpath "$here/events.vbs")" "$first" "$(winpath "$work/events.if")" "$(winpath "$work/events.ttx")"
expect_output events-service "Name=TTX (test service)
events: StateChange(1) TextChange(Test service: converting TTX to IF) $(echo "$events" | sed 's/^StateChange(1) TextChange() //')
back:Test service: converting IF to TTX"

# The VBScript example of docs/windows.md, exactly as written there.
awk '/^```vbscript$/ { inside = 1; next } /^```$/ { inside = 0 } inside' "$here/../../../docs/windows.md" \
  >"$work/readme.vbs"
[ -s "$work/readme.vbs" ] || fail "no VBScript example in docs/windows.md"
cp "$(sed -n 1p "$work/inputs")" "$work/readme.ttx"
run_script readme "$(winpath "$work/readme.vbs")" "$(winpath "$work/readme.ttx")"
expect_output readme "TTX (test service) 31: $(winpath "$work/readme.ttx").out.ttx"
"$native" to-if "$work/readme.ttx" -o "$work/readme.native.if" --direction de-de --quiet
"$native" from-if "$work/readme.native.if" -o "$work/readme.native.ttx" --quiet
cmp "$work/readme.ttx.if" "$work/readme.native.if" || fail "the documented example's IF"
cmp "$work/readme.ttx.out.ttx" "$work/readme.native.ttx" || fail "the documented example's TTX"

wine regsvr32 /u /s "$service" || fail "regsvr32 /u $service"
wine regsvr32 /u /s "$dll" || fail "regsvr32 /u $dll"
