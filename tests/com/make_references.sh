#!/bin/sh
# Tagvert: the expected outputs of the Windows tests, made by the native tagvert command.
# Usage: make_references.sh TAGVERT OUTDIR INPUT...
# For every TTX input it writes OUTDIR/<name>.if (TTX to IF) and OUTDIR/<name>.ttx (that IF back
# to TTX), and one line of OUTDIR/manifest.txt: name, input path and Direction code, separated
# by tabs. An input beside a file <input-without-.ttx>.direction is converted with that
# direction; the code that the command resolved is recorded, so the Windows host can set the
# same number through the Direction property.
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
  directionFile="${input%.ttx}.direction"
  code=0
  if [ -f "$directionFile" ]; then
    direction="$(tr -d ' \r\n' <"$directionFile")"
    trace="$("$tagvert" to-if "$input" -o "$out/$name.if" --direction "$direction" --force --events 2>&1)"
    code="$(printf '%s\n' "$trace" | sed -n 's/.*PropertyChange(Direction, \(-\{0,1\}[0-9]*\)).*/\1/p')"
    [ -n "$code" ] || { echo "no direction code for $input" >&2; exit 1; }
  else
    "$tagvert" to-if "$input" -o "$out/$name.if" --direction 0 --force --quiet
  fi
  "$tagvert" from-if "$out/$name.if" -o "$out/$name.ttx" --quiet
  printf '%s\t%s\t%s\n' "$name" "$input" "$code" >>"$out/manifest.txt"
done
[ -s "$out/manifest.txt" ] || { echo "no inputs" >&2; exit 1; }
