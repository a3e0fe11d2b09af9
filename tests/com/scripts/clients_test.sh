#!/bin/sh
# Tagvert tests: the converter from VBScript, late-bound, as registered by regsvr32.
#   clients_test.sh BUILD_DIR SAMPLES_DIR NATIVE_TAGVERT
# The script host creates the converter by its two ProgIDs, reads its identity and property
# table, converts every real document TTX -> IF -> TTX with ConvertToIF / ConvertFromIF and must
# produce the same bytes as the native tagvert for the same direction; the VBScript example of
# docs/windows.md runs as written. Exit 77 (skipped) without the native command.
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

# Runs cscript with the script and arguments after $2 (named $1 in messages); its output,
# without carriage returns, must be $2.
run_script() {
  name="$1"
  expected="$2"
  shift 2
  rc=0
  wine cscript //nologo "$@" >"$work/script.raw" 2>&1 || rc=$?
  tr -d '\r' <"$work/script.raw" >"$work/script.out"
  [ "$rc" = 0 ] || { cat "$work/script.out" >&2; fail "$name exited with $rc"; }
  if [ "$(cat "$work/script.out")" != "$expected" ]; then
    printf '%s\n' "$expected" | diff -u - "$work/script.out" >&2 || true
    fail "$name printed something else"
  fi
  echo "ok: $name output"
}

wine regsvr32 /s "$dll" || fail "regsvr32 $dll"

# shellcheck disable=SC2086
find ${samples_find:-"$samples"} -name '*.ttx' | sort >"$work/inputs"
count="$(wc -l <"$work/inputs")"
[ "$count" -gt 0 ] || fail "no .ttx files in $samples"
set --
i=0
while read -r input; do
  set -- "$@" "$(winpath "$input")"
  # The native reference: fr-fr (0x00080000), what the script sets.
  "$native" to-if "$input" -o "$work/$i.native.if" --direction 0x00080000 --quiet
  "$native" from-if "$work/$i.native.if" -o "$work/$i.native.ttx" --quiet
  i=$((i + 1))
done <"$work/inputs"

identity='Name=TTX Id=31 DefaultExtension=ttx FilterString=*.ttx MIMEContentType=text/ttx TargetId=31 State=0 IsConvertToIFAvailable=1 IsConvertFromIFAvailable=1'
table='PropertyCount=1 PropertyName(0)=Direction PropertyType(0)=2 PropertyDisplayName(0)=Direction'
run_script convert.vbs "Tagvert.Converter: $identity
Tagvert.Converter: $table
Tagvert.Converter.2: $identity
Tagvert.Converter.2: $table
Direction=524288 524288 Long
Property(0)=5
IsFormatAvailable(IF)=800401C2
IsFormatAvailable(variable)=5
done" "$(winpath "$here/convert.vbs")" 524288 "$(winpath "$work")" "$@"

i=0
while [ "$i" -lt "$count" ]; do
  for suffix in if ttx; do
    cmp "$work/$i.vbs.$suffix" "$work/$i.native.$suffix" ||
      fail "$suffix of $(sed -n "$((i + 1))p" "$work/inputs")"
  done
  i=$((i + 1))
done
echo "ok: $count documents, TTX -> IF -> TTX, identical to the native tagvert"

# The VBScript example of docs/windows.md, exactly as written there.
awk '/^```vbscript$/ { inside = 1; next } /^```$/ { inside = 0 } inside' "$here/../../../docs/windows.md" \
  >"$work/readme.vbs"
[ -s "$work/readme.vbs" ] || fail "no VBScript example in docs/windows.md"
cp "$(sed -n 1p "$work/inputs")" "$work/readme.ttx"
run_script "the example of docs/windows.md" "TTX 31: $(winpath "$work/readme.ttx").out.ttx" "$(winpath "$work/readme.vbs")" \
  "$(winpath "$work/readme.ttx")"
"$native" to-if "$work/readme.ttx" -o "$work/readme.native.if" --direction de-de --quiet
"$native" from-if "$work/readme.native.if" -o "$work/readme.native.ttx" --quiet
cmp "$work/readme.ttx.if" "$work/readme.native.if" || fail "the documented example's IF"
cmp "$work/readme.ttx.out.ttx" "$work/readme.native.ttx" || fail "the documented example's TTX"

wine regsvr32 /u /s "$dll" || fail "regsvr32 /u $dll"
