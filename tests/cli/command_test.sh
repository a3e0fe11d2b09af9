#!/bin/sh
# Tagvert: runs the built tagvert command over files and checks messages, exit statuses,
# output names, atomic writing and the expected output of the golden documents.
# Usage: command_test.sh TAGVERT DATA_DIR
# (The real documents: the round-trip tests and the command's workflow test.)
set -u
tagvert="$1"
data="$2"
. "$(dirname "$0")/test_lib.sh"

printf '<TRADOStag><Body>Hello</Body></TRADOStag>' >"$work/a.ttx"

# Usage errors: status 2, one line naming the problem (the messages:
# tests/cli/arguments_test.cpp).
says 2 "unknown command 'frobnicate'. Try 'tagvert --help'." "$tagvert" frobnicate
expect 0 "$tagvert" --help
contains "$work/out" "to-if FILE..."

# Missing and unreadable input: status 1, one sentence naming the file.
says 1 "cannot read '$work/missing.ttx': the file does not exist." "$tagvert" to-if "$work/missing.ttx"
[ "$(wc -l <"$work/err")" -eq 1 ] || fail "more than one line for a missing file"
says 2 "tagvert: '$work' is a folder: give -r to take the .ttx files under it." "$tagvert" to-if "$work"
says 1 "it is a folder" "$tagvert" show "$work"

# Default output names; the summary line names the output.
expect 0 "$tagvert" to-if "$work/a.ttx"
[ -f "$work/a.ttx.if" ] || fail "to-if did not write a.ttx.if"
contains "$work/err" "converted '$work/a.ttx'"
expect 0 "$tagvert" from-if "$work/a.ttx.if" --quiet
[ -f "$work/a.out.ttx" ] || fail "from-if did not write a.out.ttx"
[ -s "$work/err" ] && fail "--quiet printed: $(cat "$work/err")"

# The input is never overwritten.
says 2 "it is the input file" "$tagvert" to-if "$work/a.ttx" -o "$work/a.ttx"
printf '<TRADOStag><Body>Hello</Body></TRADOStag>' | cmp -s "$work/a.ttx" - || fail "the input changed"

# Standard input and output.
"$tagvert" to-if - <"$work/a.ttx" >"$work/stdout.if" 2>/dev/null || fail "to-if - failed"
cmp -s "$work/stdout.if" "$work/a.ttx.if" || fail "to-if through stdin/stdout differs"
"$tagvert" from-if - -o - <"$work/a.ttx.if" >"$work/stdout.ttx" 2>/dev/null || fail "from-if - failed"
cmp -s "$work/stdout.ttx" "$work/a.out.ttx" || fail "from-if through stdin/stdout differs"

# A document read once gives what the file gives: stats' units and matched units, and the target
# language from the document for stats, check and the conversions (the name aside).
printf '<TRADOStag><FrontMatter><UserSettings SourceLanguage="EN-US" TargetLanguage="FR-FR"/></FrontMatter><Body><Tu MatchPercent="100"><Tuv Lang="EN-US">One</Tuv><Tuv Lang="FR-FR">Un</Tuv></Tu><Tu MatchPercent="0"><Tuv Lang="EN-US">Two words</Tuv></Tu></Body></TRADOStag>' >"$work/units.ttx"
for command in stats "stats --json" check; do
  "$tagvert" $command "$work/units.ttx" 2>&1 | sed -e "s|'$work/units.ttx'|standard input|" -e "s|$work/units.ttx|-|" >"$work/file.out"
  "$tagvert" $command - <"$work/units.ttx" >"$work/stdin.out" 2>&1
  cmp -s "$work/file.out" "$work/stdin.out" || fail "$command on standard input: $(cat "$work/stdin.out")"
done
contains "$work/stdin.out" "-:1:187: Tu without a Tuv in FR-FR"
printf '<TRADOStag><FrontMatter><UserSettings TargetLanguage="FR-FR"/></FrontMatter><Body><Tu MatchPercent="0"><Tuv Lang="EN-US">Two</Tuv><Tuv Lang="FR-FR">Two</Tuv></Tu></Body></TRADOStag>' >"$work/tuv.ttx"
"$tagvert" to-if "$work/tuv.ttx" -o - --quiet >"$work/file.if"
"$tagvert" to-if - -o - --quiet <"$work/tuv.ttx" >"$work/stdin.if"
cmp -s "$work/file.if" "$work/stdin.if" || fail "to-if on standard input: another IF than the file's"
# ... and is told by its first bytes as the file is: IF or TTX for show, XLIFF (here without its
# extension) or TTX for stats and pseudo, whose pipe gives what the file gives.
"$tagvert" to-xliff "$work/units.ttx" -o "$work/units.xlf" --quiet
cp "$work/units.xlf" "$work/units-xlf"
for run in "show units.ttx" "show a.ttx.if" "stats units-xlf" "stats --json units-xlf"; do
  file="$work/${run##* }"
  "$tagvert" ${run% *} "$file" 2>&1 | sed -e "s|'$file'|standard input|" -e "s|$file|-|" >"$work/file.out"
  "$tagvert" ${run% *} - <"$file" >"$work/stdin.out" 2>&1
  cmp -s "$work/file.out" "$work/stdin.out" || fail "$run on standard input: $(cat "$work/stdin.out")"
done
mkfifo "$work/xlf-fifo"
cat "$work/units.xlf" >"$work/xlf-fifo" &
"$tagvert" pseudo "$work/xlf-fifo" -o "$work/fifo.pseudo" -qq || fail "pseudo of an XLIFF pipe failed"
"$tagvert" pseudo "$work/units.xlf" -o "$work/file.pseudo" -qq
cmp -s "$work/file.pseudo" "$work/fifo.pseudo" || fail "pseudo of an XLIFF pipe: another output than the file's"

# An empty input read once is refused as an empty file is, and nothing is written; --force
# converts it. The summary line gives the bytes read of an input without a size.
echo old >"$work/old"
for command in to-if from-if to-xliff; do
  says 1 "standard input is not a" "$tagvert" $command - -o "$work/old" </dev/null
  says 1 "(it is empty); --force converts it anyway." "$tagvert" $command - -o - </dev/null
  [ -s "$work/out" ] && fail "$command of an empty standard input wrote $(cat "$work/out")"
done
[ "$(cat "$work/old")" = old ] || fail "an empty standard input changed the old output"
says 1 "standard input is not a TTX document (it is empty)" "$tagvert" stats - </dev/null
expect 0 "$tagvert" to-if - -o - --force </dev/null
mkfifo "$work/fifo"
: >"$work/fifo" &
says 1 "'$work/fifo' is not a TTX document (it is empty)" "$tagvert" to-if -k "$work/a.ttx" "$work/fifo" -O "$work/batch"
cat "$work/a.ttx" >"$work/fifo" &
says 0 "converted '$work/fifo' ($(($(wc -c <"$work/a.ttx"))) bytes)" "$tagvert" to-if "$work/fifo" -o "$work/fifo.if"
says 0 "converted standard input ($(($(wc -c <"$work/a.ttx"))) bytes)" "$tagvert" to-if - -o "$work/fifo.if" <"$work/a.ttx"

# An input read once that is not what the command reads is refused as the file is, with the
# file's sentence, before any output is opened: an old output stays, nothing goes to standard
# output. --force converts it, as it converts the file.
printf 'hello world\n' >"$work/plain.txt"
for command in to-if to-xliff; do
  says 1 "standard input is not a TTX document (no TRADOStag start tag among its first items); --force converts it anyway." "$tagvert" $command - -o - <"$work/plain.txt"
  [ -s "$work/out" ] && fail "$command of a plain text on standard input wrote $(cat "$work/out")"
done
says 1 "standard input is neither IF nor TTX; --force shows it as TTX." "$tagvert" show - <"$work/plain.txt"
cat "$work/plain.txt" >"$work/fifo" &
says 1 "'$work/fifo' is not an IF document (it does not begin with the IF header); --force converts it anyway." "$tagvert" from-if "$work/fifo" -o "$work/old"
cat "$work/plain.txt" >"$work/fifo" &
says 1 "'$work/fifo' is not a TTX document (no TRADOStag start tag among its first items)" "$tagvert" pseudo "$work/fifo" -o "$work/old"
[ "$(cat "$work/old")" = old ] || fail "a refused pipe changed the old output"
"$tagvert" to-if "$work/plain.txt" -o "$work/plain.if" --force --quiet
"$tagvert" to-if - -o - --force --quiet <"$work/plain.txt" >"$work/stdin.if"
cmp -s "$work/plain.if" "$work/stdin.if" || fail "to-if --force on standard input: another IF than the file's"
# The test reads ahead as far as it needs: a root after 100 KB of white space and a comment
# through a pipe is found as in the file, and a writer that sends the document in pieces is
# waited for.
{ printf '%102400s<!--%102400s-->\n' '' ''; cat "$work/a.ttx"; } >"$work/late.ttx"
"$tagvert" to-if "$work/late.ttx" -o "$work/late.if" --quiet || fail "to-if of late.ttx failed"
cat "$work/late.ttx" | "$tagvert" to-if - -o "$work/stdin.if" --quiet || fail "to-if of late.ttx through a pipe failed"
cmp -s "$work/late.if" "$work/stdin.if" || fail "late.ttx through a pipe: another IF than the file's"
{ printf '<?xml version="1.0"?>\n<TRA'; sleep 0.3; printf 'DOStag><Body>Hel'; sleep 0.3; printf 'lo</Body></TRADOStag>'; } >"$work/fifo" &
expect 0 "$tagvert" to-if "$work/fifo" -o "$work/slow.if" --quiet
{ printf '<?xml version="1.0"?>\n'; cat "$work/a.ttx"; } | "$tagvert" to-if - -o - --quiet | cmp -s - "$work/slow.if" ||
  fail "a slow writer's document: another IF than the whole document's"

# A target in a folder that does not exist: status 1, nothing left behind.
says 1 "cannot write '$work/nofolder/x.if': its folder does not exist." "$tagvert" to-if "$work/a.ttx" -o "$work/nofolder/x.if"

# A conversion that fails after its output was opened (here the --against file is no IF) leaves
# an existing target as it was and no temporary file; so does an unreadable input.
printf 'old' >"$work/target.ttx"
says 1 "--against: '$work/a.ttx' is not an IF document" "$tagvert" from-if "$work/a.ttx.if" -o "$work/target.ttx" --against "$work/a.ttx"
[ "$(cat "$work/target.ttx")" = old ] || fail "a failed conversion changed the existing target"
if [ "$(id -u)" -ne 0 ]; then
  printf 'x' >"$work/locked.ttx"
  chmod 000 "$work/locked.ttx"
  says 1 "permission denied" "$tagvert" to-if "$work/locked.ttx" -o "$work/target.ttx"
  [ "$(cat "$work/target.ttx")" = old ] || fail "an unreadable input changed the existing target"
fi
no_temp "failed conversions"

# detect: one line per file, status 0 only when every file is TTX.
printf '<html></html>' >"$work/b.html"
expect 1 "$tagvert" detect "$work/a.ttx" "$work/b.html" "$work/missing.ttx"
contains "$work/out" "$work/a.ttx: TTX"
contains "$work/out" "$work/b.html: not TTX"
contains "$work/out" "$work/missing.ttx: error: the file does not exist"
expect 0 "$tagvert" detect "$work/a.ttx"

# info lists the identity and the property.
expect 0 "$tagvert" info
contains "$work/out" "text/ttx"
contains "$work/out" "Direction"

# Golden documents: tests/data/NAME.ttx converts to NAME.ttx.if (direction in NAME.direction).
for ttx in "$data"/golden/*.ttx; do
  [ -f "$ttx" ] || continue
  base="${ttx%.ttx}"
  direction=0
  [ -f "$base.direction" ] && direction="$(cat "$base.direction")"
  # The golden documents are fragments without the TRADOStag root: --force converts them.
  "$tagvert" to-if "$ttx" -o "$work/golden.if" --direction "$direction" --quiet --force ||
    fail "to-if $ttx failed"
  cmp -s "$work/golden.if" "$ttx.if" || fail "IF of $ttx differs from $ttx.if"
done

[ "$failures" -eq 0 ] && echo "command tests passed"
exit "$failures"
