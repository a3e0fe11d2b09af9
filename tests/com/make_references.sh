#!/bin/sh
# Tagvert: the expected outputs of the Windows tests, made by the native tagvert command.
# Usage: make_references.sh TAGVERT OUTDIR INPUT...
# For every TTX input it writes OUTDIR/<name>.if (TTX to IF, target language fr-fr, Direction
# 0x00080000, as the Windows hosts set it; Tuv languages compared exactly, as the COM object
# compares them) and OUTDIR/<name>.ttx (that IF back to TTX), and one
# line of OUTDIR/manifest.txt: the name and the input path, separated by a tab.
set -eu
tagvert="$1"
out="$2"
shift 2
rm -rf "$out"
mkdir -p "$out"
: >"$out/manifest.txt"
for input in "$@"; do
  [ -f "$input" ] || continue
  # Unique names: the parent folder and the file name.
  name="$(basename "$(dirname "$input")")_$(basename "$input" .ttx)"
  "$tagvert" to-if "$input" -o "$out/$name.if" --direction 0x00080000 --force --quiet \
    --exact-language
  "$tagvert" from-if "$out/$name.if" -o "$out/$name.ttx" --quiet
  printf '%s\t%s\n' "$name" "$input" >>"$out/manifest.txt"
done
[ -s "$out/manifest.txt" ] || { echo "no inputs" >&2; exit 1; }
