#!/bin/sh
# Tagvert tests: the converter from VBScript, late-bound, as registered by regsvr32.
#   clients_test.sh BUILD_DIR REFERENCE_DIR
# The script host creates the converter by its two ProgIDs, reads its identity and property
# table, converts every document of the expected outputs (tests/com/make_references.sh) TTX -> IF
# -> TTX and must write the same bytes as the native tagvert. (The example of docs/windows.md
# runs in the installer's test.)
set -eu
here="$(cd "$(dirname "$0")" && pwd)"
. "$here/wine_prefix.sh"
build="$(cd "$1" && pwd)"
reference="$2"
work="$build/tests/com/scripts/work"
rm -rf "$work"
mkdir -p "$work"
dll="$(winpath "$build/tagvert.dll")"
wine regsvr32 /s "$dll" || fail "regsvr32 $dll"

set --
while IFS="$(printf '\t')" read -r name input; do
  set -- "$@" "$(winpath "$input")"
done <"$reference/manifest.txt"
identity='TTX 31 ttx *.ttx text/ttx 31 0 11 1 Direction 2 Direction'
wine cscript //nologo "$(winpath "$here/convert.vbs")" 524288 "$(winpath "$work")" "$@" \
  >"$work/script.raw" 2>&1 || { cat "$work/script.raw" >&2; fail "convert.vbs failed"; }
tr -d '\r' <"$work/script.raw" >"$work/script.out"
printf '%s\n' "Tagvert.Converter: $identity" "Tagvert.Converter.2: $identity" \
  "Direction=524288 Long" "Property(0)=5" "IsFormatAvailable(IF)=800401C2" \
  "IsFormatAvailable(variable)=5" | diff -u - "$work/script.out" >&2 ||
  fail "convert.vbs printed something else"
i=0
while IFS="$(printf '\t')" read -r name input; do
  cmp "$work/$i.vbs.if" "$reference/$name.if" && cmp "$work/$i.vbs.ttx" "$reference/$name.ttx" ||
    fail "the output for $input"
  i=$((i + 1))
done <"$reference/manifest.txt"
echo "ok: $i documents, TTX -> IF -> TTX, identical to the native tagvert"
wine regsvr32 /u /s "$dll" || fail "regsvr32 /u $dll"
