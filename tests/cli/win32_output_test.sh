#!/bin/sh
# Tagvert: the Windows command's outputs under Wine: a symbolic link given to -o is followed, its
# target replaced and the link kept; an existing output is replaced whole; no temporary file
# stays. The links are made on the host side, which Wine shows as links to their targets.
# Usage: win32_output_test.sh TAGVERT_EXE WINE_ENV
set -u
exe="$1"
wine_env="$2"
. "$(dirname "$0")/test_lib.sh"

# Runs tagvert.exe in the work folder (relative names: Wine maps the folder to a drive); a
# failed run prints its status and what it wrote to standard error.
tagvert() {
  status=0
  (cd "$work" && "$wine_env" run "$exe" "$@") 2>"$work/run.err" || status=$?
  [ "$status" -eq 0 ] || echo "tagvert.exe $*: status $status: $(cat "$work/run.err")" >&2
  return "$status"
}

{
  printf '<?xml version="1.0"?>\n<TRADOStag Version="2.0"><FrontMatter/><Body><Raw>\n'
  printf '<Tu MatchPercent="0"><Tuv Lang="EN-US">One &amp; two</Tuv>'
  printf '<Tuv Lang="FR-FR">Un</Tuv></Tu>\n</Raw></Body></TRADOStag>\n'
} >"$work/doc.ttx"
tagvert to-if doc.ttx -o plain.if --direction fr-fr --quiet || fail "plain output"
[ -s "$work/plain.if" ] || fail "no plain output"

# An existing output is replaced.
echo old >"$work/again.if"
tagvert to-if doc.ttx -o again.if --direction fr-fr --quiet || fail "existing output"
cmp -s "$work/again.if" "$work/plain.if" || fail "the existing output was not replaced"

# A link, relative or absolute, in the same folder or another: the target gets the output.
mkdir "$work/sub"
for link in rel:real.if abs:"$work/real.if" sub:../real.if; do
  name="${link%%:*}"
  to="${link#*:}"
  echo old >"$work/real.if"
  if [ "$name" = sub ]; then place="sub/link.if"; else place="$name.if"; fi
  ln -s "$to" "$work/$place"
  tagvert to-if doc.ttx -o "$place" --direction fr-fr --quiet || fail "$name link: conversion"
  [ -L "$work/$place" ] || fail "$name link: the link was replaced by a file"
  cmp -s "$work/real.if" "$work/plain.if" || fail "$name link: its target did not get the output"
done

leftover="$(find "$work" -name '*.tmp' -o -name 'tgv*')"
[ -z "$leftover" ] || fail "temporary files left behind: $leftover"

[ "$failures" -eq 0 ] && echo "Windows output tests passed"
exit "$failures"
