#!/bin/sh
# Tagvert: the IF viewer of the demo decodes UTF-16 little-endian into UTF-8 (one-, two-,
# three- and four-byte characters) and writes codes, control characters and pair ids as <XXXX>.
# Usage: ifview_test.sh IFVIEW
set -u
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
# U+E804 T U+E805 <pair id 0x007E> a U+00E9 U+20AC U+1F600 (a surrogate pair) TAB LF x
printf '\004\350T\000\005\350\176\000a\000\351\000\254\040\075\330\000\336\011\000\012\000x\000' \
  >"$work/in.if"
printf '<E804>T<E805><007E>a\303\251\342\202\254\360\237\230\200<0009>\nx\n' >"$work/want"
sh "$1" "$work/in.if" >"$work/got" || { echo "FAIL: the viewer failed" >&2; exit 1; }
cmp -s "$work/want" "$work/got" || { echo "FAIL: expected $(od -c "$work/want"), got $(od -c "$work/got")" >&2; exit 1; }
echo "the viewer shows the IF"
