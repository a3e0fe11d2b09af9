#!/bin/sh
# Tagvert: runs the built tagvert command over batches and checks outputs, exit statuses and
# messages: parallel jobs against one file at a time, a failure with and without --keep-going,
# colliding outputs, the target language taken from the document, the input checks and --force.
# show: a small IF as text with markers (golden text), every code with --codes, a TTX file.
# Usage: workflow_test.sh TAGVERT [SAMPLES_DIR]
set -u
tagvert="$1"
samples="${2:-}"
. "$(dirname "$0")/test_lib.sh"

lacks() {
  grep -qF -- "$2" "$1" && fail "$1 has '$2': $(cat "$1")"
}

# unit U...: UTF-16 little-endian units; text TEXT: the units of an ASCII text.
unit() { for u in "$@"; do printf "\\$(printf %03o $((u & 255)))\\$(printf %03o $((u >> 8)))"; done; }
text() { printf '%s' "$1" | od -An -v -tu1 | tr -s ' \n' '  '; }

mkdir "$work/in"
for name in a b c d; do
  printf '<TRADOStag><FrontMatter><UserSettings TargetLanguage="DE-DE"/></FrontMatter><Body><Tu MatchPercent="0"><Tuv Lang="EN-US">%s one</Tuv><Tuv Lang="DE-DE">%s eins</Tuv></Tu></Body></TRADOStag>' \
    "$name" "$name" >"$work/in/$name.ttx"
done

# A batch beside the inputs and one into a folder made for it; from-if takes the outputs back.
expect 0 "$tagvert" to-if -j 2 "$work/in/a.ttx" "$work/in/b.ttx"
[ -f "$work/in/a.ttx.if" ] && [ -f "$work/in/b.ttx.if" ] || fail "the batch wrote no outputs beside"
contains "$work/err" "2 of 2 files converted"
expect 0 "$tagvert" to-if -j 3 -O "$work/new/out" "$work"/in/*.ttx
for name in a b c d; do
  [ -f "$work/new/out/$name.ttx.if" ] || fail "-O wrote no $name.ttx.if"
done
cmp -s "$work/new/out/a.ttx.if" "$work/in/a.ttx.if" || fail "-O gives other bytes than beside"
# So many jobs that the temporary outputs leave no room for threads that put outputs in place:
# the workers put their own in place, and every output is there.
mkdir "$work/many"
for i in $(seq 1 64); do cp "$work/in/a.ttx" "$work/many/m$i.ttx"; done
for jobs in 63 64; do
  expect 0 timeout 120 "$tagvert" to-if -j "$jobs" -q -O "$work/many$jobs" "$work"/many/*.ttx
  [ "$(ls "$work/many$jobs" | wc -l)" -eq 64 ] || fail "-j $jobs: $(ls "$work/many$jobs" | wc -l) outputs"
done
expect 0 "$tagvert" from-if -O "$work/back" "$work"/new/out/*.if --quiet
[ -s "$work/err" ] && fail "--quiet printed: $(cat "$work/err")"
[ "$(ls "$work/back" | wc -l)" -eq 4 ] || fail "from-if batch: $(ls "$work/back")"
[ -f "$work/back/a.out.ttx" ] || fail "from-if batch named its output otherwise: $(ls "$work/back")"
# -r: the files under a folder at any depth (no other kind), written below -O with their paths
# there, and back; each command that reads documents takes a folder so.
mkdir -p "$work/tree/sub/deeper"
cp "$work/in/a.ttx" "$work/tree/"
cp "$work/in/b.ttx" "$work/tree/sub/deeper/B.TTX"
printf 'x' >"$work/tree/sub/notes.txt"
expect 0 "$tagvert" to-if -r "$work/tree" -O "$work/r/if" -qq
expect 0 "$tagvert" from-if -r "$work/r/if" -O "$work/r/back" -qq
expect 0 "$tagvert" pseudo -qqr "$work/tree" -O "$work/r/pseudo"
expect 0 "$tagvert" to-xliff -r "$work/tree" -O "$work/r/xlf" -qq
expect 0 "$tagvert" from-xliff -r "$work/r/xlf" -O "$work/r/xback" -qq
(cd "$work/r" && find . -type f | sort | tr '\n' ' ') >"$work/got"
[ "$(cat "$work/got")" = "./back/a.out.ttx ./back/sub/deeper/B.out.TTX ./if/a.ttx.if ./if/sub/deeper/B.TTX.if ./pseudo/a.pseudo.ttx ./pseudo/sub/deeper/B.pseudo.TTX ./xback/a.out.ttx ./xback/sub/deeper/B.out.TTX ./xlf/a.ttx.xlf ./xlf/sub/deeper/B.TTX.xlf " ] ||
  fail "-r wrote: $(cat "$work/got")"
cmp -s "$work/r/if/sub/deeper/B.TTX.if" "$work/in/b.ttx.if" || fail "-r gives other bytes"
expect 0 "$tagvert" stats -r "$work/tree"
[ "$(grep -c ttx "$work/out")" = 1 ] && contains "$work/out" "$work/tree/sub/deeper/B.TTX"
# stats of an XLIFF counts what is left to translate: untouched, the document's runs, words and
# tags; its one unit translated, in the matched column, and its words no longer.
expect 0 "$tagvert" stats "$work/tree/a.ttx" "$work/r/xlf/a.ttx.xlf"
[ "$(sed -n 2p "$work/out" | cut -c 19-)" = "$(sed -n 3p "$work/out" | cut -c 19- | sed 's/r\/xlf\/a.ttx.xlf/tree\/a.ttx/')" ] ||
  fail "stats of the untouched XLIFF: $(cat "$work/out")"
sed 's|</source>|</source><target>a eins!</target>|' "$work/r/xlf/a.ttx.xlf" >"$work/done.xlf"
expect 0 "$tagvert" stats --json "$work/done.xlf"
contains "$work/out" '"units": 1, "matched": 1, "runs": 0, "words": 0'
# pseudo of an XLIFF: each target the pseudo-translation of its source (one there before
# replaced), which merges into what pseudo makes of the document.
expect 0 "$tagvert" pseudo -qq "$work/done.xlf"
expect 0 "$tagvert" from-xliff -qq "$work/done.pseudo.xlf" -o "$work/done.ttx"
cmp -s "$work/done.ttx" "$work/r/pseudo/a.pseudo.ttx" || fail "pseudo of an XLIFF merges otherwise"

# The target language comes from the document and is said on standard error: the IF is the one
# of --direction de-de, not the one of no target language.
says 0 "target language DE-DE, from the document" "$tagvert" to-if "$work/in/a.ttx" -o "$work/a.if"
expect 0 "$tagvert" to-if "$work/in/a.ttx" -o "$work/a0.if" --direction 0 -qq
cmp -s "$work/a.if" "$work/a0.if" && fail "--direction 0 gives the same IF as the document's language"
[ -s "$work/err" ] && fail "-qq printed: $(cat "$work/err")"
expect 0 "$tagvert" to-if "$work/in/a.ttx" -o "$work/a1.if" --direction de-de
cmp -s "$work/a.if" "$work/a1.if" || fail "--direction de-de differs from the document's language"
lacks "$work/err" "from the document"

# Language tags as documents write them: a bare language in the document and in --direction
# selects fr-fr, and the Tuv in fr is translated (its word counted); a language the table lacks,
# a missing one, and a target no Tuv carries.
printf '<TRADOStag><UserSettings TargetLanguage="fr"/><Tu><Tuv Lang="en">x</Tuv><Tuv Lang="fr">y</Tuv></Tu></TRADOStag>' >"$work/fr.ttx"
for direction in "" "--direction=fr" "--direction=fr-fr"; do
  expect 0 "$tagvert" stats --json $direction "$work/fr.ttx"
  contains "$work/out" '"words": 1,'
  [ -z "$direction" ] && contains "$work/err" "target language fr, from the document"
done
# --exact-language compares as the Windows converter does: the Tuv in fr stays untranslated.
expect 0 "$tagvert" to-if "$work/fr.ttx" -o "$work/fr-exact.if" --direction fr-fr --exact-language -qq
expect 0 "$tagvert" to-if "$work/fr.ttx" -o "$work/fr-any.if" --direction fr-fr -qq
cmp -s "$work/fr-exact.if" "$work/fr-any.if" && fail "--exact-language translated the Tuv in fr"
sed 's/"fr"/"xx"/g' "$work/fr.ttx" >"$work/xx.ttx"
says 0 "warning: '$work/xx.ttx': the document names the target language 'xx', which is not in the language table: every Tuv is carried untranslated" "$tagvert" to-if "$work/xx.ttx" -o "$work/fr.if"
says 0 "no Tuv in DE-DE; the document has en, xx" "$tagvert" to-if "$work/xx.ttx" -o "$work/fr.if" --direction de
# -q hides the notes but keeps the warnings; -qq hides both.
expect 0 "$tagvert" to-if "$work/xx.ttx" "$work/in/a.ttx" -O "$work/q" -q
[ "$(cat "$work/err")" = "tagvert: warning: '$work/xx.ttx': the document names the target language 'xx', which is not in the language table: every Tuv is carried untranslated (give --direction; 'tagvert languages' lists the table)." ] ||
  fail "-q: $(cat "$work/err")"
expect 0 "$tagvert" to-if "$work/xx.ttx" -o "$work/fr.if" --direction de-de -qq
[ -s "$work/err" ] && fail "-qq printed a warning: $(cat "$work/err")"
printf '<TRADOStag><Tuv Lang="EN-US">x</Tuv></TRADOStag>' >"$work/none.ttx"
says 0 "names no target language: every Tuv is carried untranslated" "$tagvert" to-if "$work/none.ttx" -o "$work/none.if"

# languages lists the table with the direction value of each tag, each tag once.
expect 0 "$tagvert" languages
contains "$work/out" "fr-fr   0x0008  0x00080000"
contains "$work/out" "en-gb   0x0402  0x04020000"
[ "$(grep -c '^en-us ' "$work/out")" = 1 ] || fail "languages lists en-us other than once"

# Input checks: empty, random bytes, an IF file given to to-if, a TTX file given to from-if.
: >"$work/empty.ttx"
printf '\001\002\003\377garbage' >"$work/random.ttx"
for bad in "$work/empty.ttx" "$work/random.ttx" "$work/a.if"; do
  says 1 "'$bad' is not a TTX document (no TRADOStag start tag among its first items)" "$tagvert" to-if "$bad" -o "$work/bad.if"
  [ -e "$work/bad.if" ] && fail "to-if wrote an output for $bad"
done
says 1 "is not an IF document (it does not begin with the IF header)" "$tagvert" from-if "$work/in/a.ttx" -o "$work/bad.ttx"
[ -e "$work/bad.ttx" ] && fail "from-if wrote an output for a TTX input"
expect 0 "$tagvert" to-if "$work/random.ttx" -o "$work/bad.if" --force --quiet
[ -f "$work/bad.if" ] || fail "--force wrote no output"
expect 0 "$tagvert" from-if "$work/in/a.ttx" -o "$work/bad.ttx" --force --quiet

# A failure stops the batch: with one job in order, the file before it keeps its output, the
# files after it are not converted, nothing is half written; exit status 1.
rm -rf "$work/o1" "$work/o2"
says 1 "is not a TTX document" "$tagvert" to-if -j 1 -O "$work/o1" "$work/in/a.ttx" "$work/random.ttx" "$work/in/c.ttx" "$work/in/d.ttx"
contains "$work/err" "1 of 4 files converted, 1 failed, 2 not converted"
[ -f "$work/o1/a.ttx.if" ] || fail "the file before the failure lost its output"
[ -e "$work/o1/c.ttx.if" ] || [ -e "$work/o1/d.ttx.if" ] && fail "the batch went on after a failure"
no_temp "stopped batch"
# With --keep-going every file is tried.
says 1 "3 of 5 files converted, 2 failed" "$tagvert" to-if -j 2 -k -O "$work/o2" "$work/in/a.ttx" "$work/random.ttx" "$work/missing.ttx" "$work/in/c.ttx" "$work/in/d.ttx"
contains "$work/err" "cannot read '$work/missing.ttx': the file does not exist."
[ "$(ls "$work/o2" | wc -l)" -eq 3 ] || fail "--keep-going: $(ls "$work/o2")"
no_temp "batch with --keep-going"

# A failure that stops another job's conversion under way (two jobs: a.ttx ends first, then
# random.ttx fails while big.ttx converts); the ThreadSanitizer build checks that the stop never
# reaches a converter that is being destroyed.
awk 'BEGIN { printf "<TRADOStag><Body>"; for (i = 0; i < 40000; i++) printf "<Tu><Tuv Lang=\"DE-DE\">t %d</Tuv></Tu>\n", i; print "</Body></TRADOStag>" }' >"$work/big.ttx"
says 1 "is not a TTX document" "$tagvert" to-if -j 2 --direction de-de --quiet -O "$work/o4" "$work/in/a.ttx" "$work/big.ttx" "$work/random.ttx" "$work/in/c.ttx"
no_temp "batch stopped under way"

# Two inputs that would write one output, or an output that is an input: refused up front.
mkdir "$work/other"
cp "$work/in/a.ttx" "$work/other/a.ttx"
says 2 "would both write '$work/o3/a.ttx.if'" "$tagvert" to-if -O "$work/o3" "$work/in/a.ttx" "$work/other/a.ttx"
[ -e "$work/o3" ] && fail "a refused batch made its folder"
says 2 "would both write" "$tagvert" to-if "$work/in/a.ttx" "$work/in/./a.ttx"
cp "$work/in/a.ttx" "$work/x"
cp "$work/in/a.ttx" "$work/x.if"
says 2 "it is the input file" "$tagvert" to-if "$work/x" "$work/x.if"
cmp -s "$work/x.if" "$work/in/a.ttx" || fail "a refused batch changed an input"

# check: a document made to carry each problem, one line each, and a clean document.
printf '<TRADOStag><UserSettings TargetLanguage="DE-DE"/><Body>\n<Tu MatchPercent="0"><Tuv Lang="EN-US">a &amp; b & c</Tuv></Tu>\n<Tu><Tuv Lang="EN-US">x</Tuv><Tuv Lang="DE-DE"> </Tuv></Tu>\n<Tu><Tuv Lang="EN-US"><ut Type="start" DisplayText="b">a</ut><ut Type="end" DisplayText="b">b</ut><ut Type="end" DisplayText="i">c</ut></Tuv><Tuv Lang="DE-DE">y<ut Type="start" DisplayText="b">d</ut></Tuv></Tu>\n<ut Type="start" Style="external">e</ut><df><b>x</df></i> 1 < 2 <Raw\n</Body>' >"$work/bad.ttx"
expect 1 "$tagvert" check "$work/bad.ttx" -q
sed "s|^$work/||" "$work/out" >"$work/got"
cat >"$work/expected" <<'END'
bad.ttx:1:1: start tag <TRADOStag> never closed
bad.ttx:2:1: Tu without a Tuv in DE-DE
bad.ttx:2:50: '&' that starts no reference (write &amp;)
bad.ttx:3:30: empty Tuv in DE-DE
bad.ttx:4:99: ut placeholder of Type="end" without its start
bad.ttx:4:161: ut placeholder of Type="start" without its end
bad.ttx:5:45: start tag <b> never closed (</df> at 5:49 closes its parent)
bad.ttx:5:54: end tag </i> without a start tag
bad.ttx:5:61: '<' that starts no markup (write &lt;)
bad.ttx:5:65: markup cut off: <Raw
END
cmp -s "$work/got" "$work/expected" || fail "check: $(cat "$work/got")"
expect 0 "$tagvert" check "$work/in/a.ttx" -q
[ -s "$work/out" ] && fail "check found problems in a clean document: $(cat "$work/out")"
expect 1 "$tagvert" check "$work/in/a.ttx" "$work/fr.ttx" --direction fr-fr -q
contains "$work/out" "in/a.ttx:1:83: Tu without a Tuv in FR-FR"
# Columns count UTF-16 units, also once a character beyond Latin-1 has widened the text read
# (é, 中 and one character written as a surrogate pair before the '&').
printf '<TRADOStag><Body>\n\303\251\344\270\255\360\237\230\200 & x</Body></TRADOStag>' >"$work/wide.ttx"
expect 1 "$tagvert" check "$work/wide.ttx" -q
contains "$work/out" "wide.ttx:2:6: '&' that starts no reference"
# 150 stray '&': 100 listed and one line counts the rest, unless --all-warnings is given.
{ printf '<TRADOStag><Body>'; for i in $(seq 150); do printf 'a & b '; done; printf '</Body></TRADOStag>'; } >"$work/amp.ttx"
expect 1 "$tagvert" check "$work/amp.ttx" -q
[ "$(grep -c "starts no reference (write" "$work/out")" = 100 ] || fail "check listed other than 100 stray '&'"
contains "$work/out" "$work/amp.ttx: 50 more problems not listed: '&' that starts no reference (--all-warnings lists them)."
expect 1 "$tagvert" check "$work/amp.ttx" -q --all-warnings
[ "$(wc -l <"$work/out")" -eq 150 ] || fail "check --all-warnings did not list every problem"
# --json, read by a JSON parser; status 2 when a file could not be read, its problems or not.
expect 2 "$tagvert" check --json "$work/bad.ttx" "$work/missing.ttx" "$work/amp.ttx" -q
/usr/bin/python3 -c '
import json, sys
files = json.load(open(sys.argv[1]))["files"]
got = [(f["file"][-7:], len(f["problems"]), f["problems"][0]["line"], f["unlisted"]) for f in files]
assert got == [("bad.ttx", 10, 1, {}), ("amp.ttx", 100, 1, {"\x27&\x27 that starts no reference": 50})], got
' "$work/out" || fail "check --json: $(cat "$work/out")"

# Tag damage in a translated IF: a sent IF (one translation unit, its source Tuv carried whole,
# then a paragraph) and translations of it with a misnested, a dropped, a doubled, a swapped and
# a moved tag, and a moved tag without a pair id. Each problem names the line and column of the
# tag in the TTX written back (escaped text counted as written) and the translation unit with
# its first words; one damage gives the same warnings with and without --against.
tag() { unit 0xE805 "$1" $(text "$2") 0xE000; }                       # tag PAIR SOURCE
blk() { unit 0xE405; [ "${3:-}" = end ] && unit 0xE404; tag "$1" "$2"; } # block tag
end() { unit 0xE404; tag "$1" "$2"; }
txt() { unit $(text "$1"); }
# make_if VARIANT: the sent IF and damaged translations of it
make_if() {
  unit 0xE804 84 84 88 0xE000
  txt '
'
  blk 0x10 '<Tu>'
  blk 0 '<Tuv Lang="EN-US">Old <ut>&lt;b&gt;</ut>words &amp; more</Tuv>'
  blk 0x13 '<Tuv Lang="DE-DE">'
  txt 'A & '
  case "$1" in
    misnested) tag 0x11 '<b>'; txt 'b'; tag 0x12 '<i>'; end 0x11 '</b>'; end 0x12 '</i>' ;;
    dropped) tag 0x11 '<b>'; txt 'b'; tag 0x12 '<i>'; txt 'i'; end 0x12 '</i>' ;;
    swapped) end 0x11 '</b>'; txt 'b'; tag 0x11 '<b>'; tag 0x12 '<i>'; txt 'i'; end 0x12 '</i>' ;;
    moved) tag 0x11 "<b>"; txt b; end 0x11 "</b>" ;;
    lost) txt 'b'; tag 0x12 '<i>'; txt 'i'; end 0x12 '</i>' ;;
    *) tag 0x11 '<b>'; txt 'b'; end 0x11 '</b>'; tag 0x12 '<i>'; txt 'i'; end 0x12 '</i>' ;;
  esac
  [ "$1" = doubled ] && { tag 0x12 '<i>'; txt 'i'; end 0x12 '</i>'; }
  [ "$1" = single ] || tag 0 '<br/>'
  blk 0x13 '</Tuv>' end
  blk 0x10 '</Tu>' end
  blk 0x20 '<p>'
  txt 'B'
  [ "$1" = moved ] && { tag 0x12 '<i>'; end 0x12 '</i>'; }
  [ "$1" = single ] && tag 0 '<br/>'
  blk 0x20 '</p>' end
}
for variant in sent misnested dropped doubled swapped moved single lost; do
  make_if "$variant" >"$work/$variant.if"
  "$tagvert" from-if "$work/$variant.if" -o "$work/$variant.ttx" 2>"$work/$variant.plain" ||
    fail "from-if $variant: $(cat "$work/$variant.plain")"
  "$tagvert" from-if "$work/$variant.if" -o "$work/t.ttx" --against "$work/sent.if" \
    2>"$work/$variant.against" || fail "from-if $variant --against: $(cat "$work/$variant.against")"
done
unit1=', translation unit 1 ("Old words & more")'
while IFS='|' read -r variant option column unit message; do
  [ "$unit" = 1 ] && unit="$unit1"
  contains "$work/$variant.$option" "warning: '$work/$variant.if': line 2, column $column of the TTX written back$unit: $message"
  # The tag stands at that line and column of the TTX written back.
  shown="${message#tag }"
  case "$(sed -n 2p "$work/$variant.ttx" | cut -c "$column"-)" in
    "${shown%%, *}"*) ;;
    *) fail "$variant: no ${shown%%, *} at column $column: $(sed -n 2p "$work/$variant.ttx")" ;;
  esac
done <<'END'
misnested|plain|100|1|tag </b>, pair 0x0011: closes its start tag while <i> (pair 0x0012) is still open: the tags are misnested.
dropped|plain|93|1|tag <b>, pair 0x0011: no end tag.
doubled|plain|109|1|tag <i>, pair 0x0012: appears twice.
swapped|plain|93|1|tag </b>, pair 0x0011: no start tag.
swapped|plain|98|1|tag <b>, pair 0x0011: no end tag.
moved|against|121||tag <i>, pair 0x0012: moved across a block boundary.
single|against|124||tag <br/>, without a pair id: moved across a block boundary.
END
for variant in sent misnested dropped doubled swapped; do
  grep warning "$work/$variant.plain" >"$work/plain"
  grep warning "$work/$variant.against" | cmp -s - "$work/plain" ||
    fail "$variant: other warnings with --against: $(cat "$work/$variant.against")"
done
lacks "$work/sent.plain" warning
lacks "$work/moved.plain" warning
# A tag lost with its partner is seen only with --against, where it stands in the sent IF's TTX.
lacks "$work/lost.plain" warning
contains "$work/lost.against" "'$work/lost.if': line 2, column 97 of the TTX the sent IF gives back, translation unit 1 (\"Old words & more\"): tag </b>, pair 0x0011: missing from the translation."
says 1 "1 tag problem in '$work/doubled.if' (--strict); no output file was written." "$tagvert" from-if "$work/doubled.if" -o "$work/strict.ttx" --strict
[ -e "$work/strict.ttx" ] && fail "--strict wrote an output"
expect 1 "$tagvert" from-if "$work/moved.if" -o "$work/strict.ttx" --strict --against "$work/sent.if" --quiet
[ -e "$work/strict.ttx" ] && fail "--strict --against wrote an output"
expect 0 "$tagvert" from-if "$work/sent.if" -o "$work/strict.ttx" --strict --against "$work/sent.if"
# 150 start tags of one pair id, never closed: 149 doubles and 150 tags without an end tag. Of
# each kind 100 are listed and one warning counts the rest, unless --all-warnings is given.
unit 0xE804 84 84 88 0xE000 >"$work/many.if"
tag 0x30 '<b>' >"$work/one.if"
for i in $(seq 150); do cat "$work/one.if"; done >>"$work/many.if"
expect 0 "$tagvert" from-if "$work/many.if" -o "$work/t.ttx"
[ "$(grep -c 'appears twice\.$' "$work/err")/$(grep -c 'no end tag\.$' "$work/err")" = 100/100 ] ||
  fail "from-if listed other than 100 tag problems of each kind: $(grep -c warning "$work/err")"
contains "$work/err" "warning: '$work/many.if': 49 more warnings not listed: appears twice (--all-warnings lists them)."
contains "$work/err" "warning: '$work/many.if': 50 more warnings not listed: no end tag (--all-warnings lists them)."
expect 0 "$tagvert" from-if "$work/many.if" -o "$work/t.ttx" --all-warnings
[ "$(grep -c 'warning: .*: line ' "$work/err")/$(grep -c 'not listed' "$work/err")" = 299/0 ] ||
  fail "from-if --all-warnings did not list every tag problem: $(grep -c warning "$work/err")"

# The real documents: a batch with two jobs gives the same bytes as one file at a time, each with
# its target language from the document, and the way back gives the same bytes too.
if [ -n "$samples" ] && [ -d "$samples" ]; then
  expect 0 "$tagvert" to-if -j 2 -O "$work/batch" "$samples"/*/*.ttx
  count=$(ls "$samples"/*/*.ttx | wc -l)
  contains "$work/err" "$count of $count files converted"
  expect 0 "$tagvert" from-if -j 2 -O "$work/batchback" "$work"/batch/*.if
  lacks "$work/err" "warning"
  for ttx in "$samples"/*/*.ttx; do
    name="$(basename "$ttx")"
    "$tagvert" to-if "$ttx" -o "$work/single.if" --quiet || fail "to-if $ttx"
    cmp -s "$work/single.if" "$work/batch/$name.if" || fail "batch and single differ for $name"
    "$tagvert" from-if "$work/single.if" -o "$work/single.ttx" --quiet || fail "from-if $name"
    cmp -s "$work/single.ttx" "$work/batchback/${name%.ttx}.out.ttx" ||
      fail "from-if batch and single differ for $name"
    "$tagvert" from-if "$work/single.if" -o "$work/t.ttx" --against "$work/single.if" --strict \
      2>"$work/err" || fail "tag check of the untouched IF of $name: $(cat "$work/err")"
  done
  # stats: figures counted by hand from the documents and from show. Test01 (FR-FR from the
  # document): 6 Tu, 4 with MatchPercent 1, 90, 100, 101; runs "Texte en ", "gras", ".",
  # "Seconde ", "phrase.", "Text with ", "bold and ", "italics", " and plain display" (13 words).
  # integration_Test01 (Lang="fr") is the same document: with fr-fr its Tuvs in fr translate.
  test01="$samples/derived/Test01.utf8-bom.ttx"
  integration="$samples/okapi/integration_Test01.html.ttx"
  if [ -f "$test01" ] && [ -f "$integration" ]; then
    expect 0 "$tagvert" stats --json --direction fr-fr "$test01" "$integration" --quiet
    cat >"$work/expected" <<END
{"files": [
  {"file": "$test01", "units": 6, "matched": 4, "runs": 9, "words": 13, "tags": 50},
  {"file": "$integration", "units": 6, "matched": 4, "runs": 9, "words": 13, "tags": 50}
],
"total": {"units": 12, "matched": 8, "runs": 18, "words": 26, "tags": 100}}
END
    cmp -s "$work/out" "$work/expected" || fail "stats --json: $(cat "$work/out")"
    expect 0 "$tagvert" stats "$test01"
    contains "$work/out" "       6        4        9        13       50  $test01"
    contains "$work/err" "target language FR-FR, from the document"
  fi
  # pseudo: every real document comes back well-formed, with the same tags and runs.
  expect 0 "$tagvert" pseudo -O "$work/pseudo" "$samples"/*/*.ttx --direction fr-fr --quiet
  for ttx in "$samples"/*/*.ttx; do
    name="$(basename "$ttx" .ttx).pseudo.ttx"
    xmllint --noout "$work/pseudo/$name" 2>"$work/err" || fail "pseudo of $ttx: $(cat "$work/err")"
    "$tagvert" stats --json --direction fr-fr -q "$ttx" | sed -n 's/.*"runs": \([0-9]*\).*"tags": \([0-9]*\).*/\1 \2/p' >"$work/before"
    "$tagvert" stats --json --direction fr-fr -q "$work/pseudo/$name" | sed -n 's/.*"runs": \([0-9]*\).*"tags": \([0-9]*\).*/\1 \2/p' >"$work/after"
    [ -s "$work/before" ] || fail "stats gave no figures for $ttx"
    cmp -s "$work/before" "$work/after" || fail "pseudo of $ttx changed runs or tags: $(cat "$work/before") / $(cat "$work/after")"
  done
  grep -q "\[Ŧéxŧé éñ ···\]" "$work/pseudo/Test01.utf8-bom.pseudo.ttx" 2>/dev/null ||
    [ ! -f "$samples/derived/Test01.utf8-bom.ttx" ] || fail "pseudo text not found"
  # The document that names TargetLanguage="FR-FR" has its French Tuvs translated.
  allseg="$samples/okapi/filters_Test02_allseg.html.ttx"
  if [ -f "$allseg" ]; then
    "$tagvert" to-if "$allseg" -o "$work/allseg0.if" --direction 0 --quiet
    "$tagvert" to-if "$allseg" -o "$work/allsegfr.if" --direction fr-fr --quiet
    cmp -s "$work/batch/filters_Test02_allseg.html.ttx.if" "$work/allsegfr.if" ||
      fail "the batch did not take FR-FR from $allseg"
    cmp -s "$work/allsegfr.if" "$work/allseg0.if" && fail "FR-FR made no difference for $allseg"
  fi
fi

# show on a small IF made unit by unit (UTF-16 little-endian): header, a block tag group, text,
# a reserve group after an end flag, skipped text, a flagged tag, a stray flagged boundary and a
# tag group cut off by the end of the file.
{
  unit 0xE804 84 84 88 0xE000
  unit 0xE405 0xE805 0x66 $(text '<df Size="8">') 0xE000
  unit $(text 'Hi ') 0xE404 0xE80A 1 0 0xE000 0xEC03 $(text 'mt')
  unit 0xE411 0xE805 0x67 $(text '<b>') 0xE000 0xE012 0xE805 0x68 $(text '<i')
} >"$work/small.if"
expect 0 "$tagvert" show "$work/small.if"
cat >"$work/expected" <<'END'
{header: TTX}
{#0066 block: <df Size="8">}Hi {reserve semantic 1 transliterate 0 end}{skipped U+EC03: mt}{#0067 flagged: <b>}{flagged boundary U+E012}{#0068 (cut off by the end of the IF): <i}
END
cmp -s "$work/out" "$work/expected" || fail "show: $(cat "$work/out")"
expect 0 "$tagvert" show --codes "$work/small.if"
cat >"$work/expected" <<'END'
<E804>TTX<E000>
<E405><E805><0066><df Size="8"><E000>
Hi <E404><E80A><0001><0000><E000>
<EC03>mt<E411><E805><0067><b><E000>
<E012><E805><0068><i
END
cmp -s "$work/out" "$work/expected" || fail "show --codes: $(cat "$work/out")"
# A TTX file is shown as the IF it converts to, with its target language from the document.
says 0 "target language DE-DE, from the document" "$tagvert" show "$work/in/a.ttx"
contains "$work/out" '{#0000 block: <Tuv Lang="EN-US">a one</Tuv>}'
contains "$work/out" "a eins"
"$tagvert" show "$work/a.if" >"$work/from-if.txt"
cmp -s "$work/out" "$work/from-if.txt" || fail "show of a TTX file differs from show of its IF"
says 1 "is neither IF nor TTX" "$tagvert" show "$work/random.ttx"
# Colours: --color always and never; auto colours a terminal unless TERM is dumb.
expect 0 "$tagvert" show --color=always "$work/small.if"
grep -q "$(printf '\033')" "$work/out" || fail "--color=always did not colour"
TERM=xterm script -qec "$tagvert show $work/small.if" /dev/null | grep -q "$(printf '\033')" ||
  fail "a terminal got no colours"
TERM=xterm script -qec "TERM=dumb $tagvert show $work/small.if" /dev/null >"$work/tty" 2>&1
grep -q "$(printf '\033')" "$work/tty" && fail "TERM=dumb got colours: $(cat "$work/tty")"
TERM=xterm script -qec "$tagvert show --color never $work/small.if" /dev/null | grep -q "$(printf '\033')" &&
  fail "--color never got colours"
# Several files, each after a heading; one that fails does not stop the others.
expect 1 "$tagvert" show "$work/a.if" "$work/missing.if" "$work/small.if"
{ printf '==> %s <==\n' "$work/a.if"; "$tagvert" show "$work/a.if"; printf '\n==> %s <==\n\n==> %s <==\n' "$work/missing.if" "$work/small.if"; "$tagvert" show "$work/small.if"; } 2>/dev/null | cmp -s - "$work/out" || fail "show of several files: $(cat "$work/out")"

# stats refuses what is not TTX, counts the rest, and exits 1.
says 1 "is not a TTX document" "$tagvert" stats "$work/random.ttx" "$work/in/a.ttx" --quiet
contains "$work/out" "1        0        1         2       10  $work/in/a.ttx"

# Ill-formed UTF-8 never becomes markup: overlong forms of `<`, `>` and U+0000, an encoded
# surrogate and references to a surrogate and to U+0001 come back as U+FFFD, in a translated run
# and in a Tuv written back as it was read, and the TTX written back is well-formed.
printf '<TRADOStag><Body><Tu MatchPercent="0"><Tuv Lang="EN-US">a \300\274b x="1"\300\276 \300\200\355\240\200&#xD800;&#1; c</Tuv><Tuv Lang="DE-DE">\340\200\274i\300\276\300\200\355\260\200</Tuv></Tu></Body></TRADOStag>' >"$work/overlong.ttx"
expect 0 "$tagvert" to-if "$work/overlong.ttx" -o "$work/overlong.if" --direction en-us --quiet
"$tagvert" show "$work/overlong.if" >"$work/overlong.txt"
lacks "$work/overlong.txt" "<b"
expect 0 "$tagvert" from-if "$work/overlong.if" -o "$work/overlong.out.ttx" --quiet
xmllint --noout "$work/overlong.out.ttx" 2>"$work/err" || fail "overlong forms: $(cat "$work/err")"
[ "$(grep -o "$(printf '\357\277\275')" "$work/overlong.out.ttx" | wc -l)" -eq 21 ] ||
  fail "overlong forms: not 21 U+FFFD in $(cat "$work/overlong.out.ttx")"

# An input cut at an odd byte: a warning naming the file, an error with --strict.
cp "$work/a.if" "$work/odd.if"
printf 'A' >>"$work/odd.if"
says 0 "warning: '$work/odd.if': the input ends with half a UTF-16 unit; its last byte was dropped." "$tagvert" from-if "$work/odd.if" -o "$work/odd.ttx"
says 1 "'$work/odd.if' ends with half a UTF-16 unit (--strict); no output file was written." "$tagvert" from-if "$work/odd.if" -o "$work/odd2.ttx" --strict
{ printf '\377\376'; printf '<TRADOStag></TRADOStag>' | iconv -f UTF-8 -t UTF-16LE; printf 'x'; } >"$work/odd16.ttx"
says 1 "'$work/odd16.ttx' ends with half a UTF-16 unit (--strict)" "$tagvert" to-if "$work/odd16.ttx" -o "$work/odd2.if" --strict --direction 0
[ -e "$work/odd2.ttx" ] || [ -e "$work/odd2.if" ] && fail "--strict wrote an output for an odd byte"

# A document cut off: the command says where it ends, to-if --strict refuses it; a file of the
# same ending that is complete says nothing.
printf '<TRADOStag><Body>\n<Tu><Tuv Lang="DE-DE">a</Tuv></Tu>\n<Tu><Tuv Lang="DE-DE">b <df Size' >"$work/cut.ttx"
printf '<TRADOStag><Body>\n<Tu><Tuv Lang="DE-DE">a</Tuv></Tu>\n' >"$work/cut2.ttx"
for row in "cut.ttx|line 3, column 33, inside a tag with TRADOStag still open" \
  "cut2.ttx|line 3, column 1, with TRADOStag still open"; do
  name=${row%%|*}
  says 0 "warning: '$work/$name': the document is cut off at ${row#*|}; the rest of it is missing." "$tagvert" to-if "$work/$name" -o "$work/cut.if" --direction de
  says 1 "'$work/$name' is cut off at ${row#*|} (--strict); no output file was written." "$tagvert" to-if "$work/$name" -o "$work/cut3.if" --strict --direction de
  says 0 "the document is cut off" "$tagvert" stats "$work/$name"
done
[ -e "$work/cut3.if" ] && fail "--strict wrote an output for a document cut off"
expect 0 "$tagvert" to-if "$work/odd16.ttx" -o "$work/whole.if" --direction de
lacks "$work/err" "cut off"

# UTF-16 without a byte-order mark: read as UTF-16 when its first characters show it, else
# refused with the way to convert it.
printf '<?xml version="1.0"?>\n<TRADOStag><Tu><Tuv Lang="DE-DE">Wort</Tuv></Tu></TRADOStag>' >"$work/u8.ttx"
iconv -f UTF-8 -t UTF-16LE "$work/u8.ttx" >"$work/le.ttx"
iconv -f UTF-8 -t UTF-16BE "$work/u8.ttx" >"$work/be.ttx"
"$tagvert" to-if "$work/u8.ttx" -o "$work/u8.if" --direction de -q
for name in le be; do
  expect 0 "$tagvert" to-if "$work/$name.ttx" -o "$work/$name.if" --direction de -q
  cmp -s "$work/u8.if" "$work/$name.if" || fail "UTF-16 ($name) without a mark gives another IF"
done
{ printf '\303\251'; cat "$work/u8.ttx"; } | iconv -f UTF-8 -t UTF-16LE >"$work/le2.ttx"
says 1 "'$work/le2.ttx' is not a TTX document as read: it looks like UTF-16 (little-endian) without a byte-order mark; convert it first (iconv -f UTF-16LE -t UTF-8) or --force it as UTF-8." "$tagvert" to-if "$work/le2.ttx" -o "$work/le2.if"

# from-xliff writes the TTX as it reads the XLIFF: tag damage that --strict refuses at the end
# still leaves the old output as it was, no temporary file and nothing on standard output.
printf '<TRADOStag><FrontMatter><UserSettings TargetLanguage="DE-DE"/></FrontMatter><Body><Tu MatchPercent="0"><Tuv Lang="EN-US">a <df Bold="on">b</df> c</Tuv><Tuv Lang="DE-DE">a <df Bold="on">b</df> c</Tuv></Tu></Body></TRADOStag>' >"$work/tags.ttx"
expect 0 "$tagvert" to-xliff "$work/tags.ttx" -o "$work/tags.xlf" -q
sed 's#</source>#</source><target>ab</target>#' "$work/tags.xlf" >"$work/damaged.xlf"
printf old >"$work/old.ttx"
says 1 "tag damage (--strict)" "$tagvert" from-xliff --strict "$work/damaged.xlf" -o "$work/old.ttx"
[ "$(cat "$work/old.ttx")" = old ] || fail "from-xliff --strict: the old output changed"
no_temp "from-xliff --strict"
says 1 "tag damage (--strict)" "$tagvert" from-xliff --strict "$work/damaged.xlf" -o -
[ -s "$work/out" ] && fail "from-xliff --strict wrote to standard output"

[ "$failures" -eq 0 ] && echo "workflow tests passed"
exit "$failures"
