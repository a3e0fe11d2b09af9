#!/bin/sh
# Tagvert: the batch command lines of docs/batches.md (xargs -P, and GNU parallel with its ssh
# options), run as the page shows them on one machine (hosts=:), give every file the bytes that
# converting the files one by one gives.
# Usage: parallel_test.sh TAGVERT DOCS_BATCHES_MD SAMPLES_DIR...
set -u
tagvert="$1"
page="$2"
shift 2
. "$(dirname "$0")/../cli/test_lib.sh"
command -v parallel >/dev/null || { fail "GNU parallel is not installed (Debian package parallel)"; exit 1; }
PATH="$(cd "$(dirname "$tagvert")" && pwd):$PATH"
export PATH

# The page's shell blocks, one file each (block1.sh, block2.sh, ...).
awk -v dir="$work" '/^```sh$/ { n++; inside = 1; next } /^```$/ { inside = 0; next }
  inside { print > (dir "/block" n ".sh") }' "$page"
[ -f "$work/block3.sh" ] || { fail "$page does not show three command lines"; exit 1; }
# One machine: this one. The way back's line takes $hosts from the line before it.
sed -i 's/^hosts=.*/hosts=:/' "$work/block2.sh"
sed -i '1i hosts=:' "$work/block3.sh"

# projects/: the samples; reference/: the same files converted one by one.
mkdir -p "$work/projects"
for dir in "$@"; do [ -d "$dir" ] && cp -r "$dir" "$work/projects/"; done
cp -r "$work/projects" "$work/reference"
count=0
for ttx in $(cd "$work/reference" && find . -name '*.ttx'); do
  tagvert to-if "$work/reference/$ttx" -o "$work/reference/$ttx.if" --quiet || fail "to-if $ttx"
  tagvert from-if "$work/reference/$ttx.if" -o "$work/reference/${ttx%.ttx}.out.ttx" --quiet ||
    fail "from-if $ttx.if"
  count=$((count + 1))
done
[ "$count" -gt 0 ] || { fail "no samples"; exit 1; }

# same: every file the batch wrote equals the one-by-one conversion's (and none is missing).
same() {
  for ref in $(cd "$work/reference" && find . -name "$1"); do
    cmp -s "$work/reference/$ref" "$work/projects/$ref" || fail "$2: $ref differs or is missing"
  done
  rm -f $(cd "$work/projects" && find "$PWD" -name "$1")
}
(cd "$work" && sh block1.sh) || fail "the xargs line failed"
same '*.ttx.if' "xargs -P"
(cd "$work" && sh block2.sh 2>"$work/parallel.err") || fail "the parallel line failed: $(cat "$work/parallel.err")"
same '*.ttx.if' "parallel to-if"
(cd "$work" && sh block2.sh 2>/dev/null && sh block3.sh 2>"$work/parallel.err") ||
  fail "the parallel way back failed: $(cat "$work/parallel.err")"
same '*.out.ttx' "parallel from-if"

[ "$failures" -eq 0 ] || exit 1
echo "$count documents: the batch lines of $(basename "$page") give the one-by-one bytes"
