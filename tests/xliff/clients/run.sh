#!/bin/sh
# The XLIFF bridge against the schemas and real clients, over the real samples, the test
# documents and 200 generated ones:
#   schemas: every XLIFF written, 1.2 and 2.0, validates with xmllint against the OASIS schemas
#            (Debian's php-symfony-translation copies, the xml.xsd they import found through a
#            catalog: no network);
#   toolkit: translate-toolkit (1.2) and
#   npm:     the npm package xliff (2.0) fill every unit's target with its pseudo-translated text;
#            from-xliff must give a well-formed TTX (where the source is) byte for byte equal to
#            what `tagvert pseudo` gives for the document: the same text change through the IF,
#            so every byte of markup is the source's and only the offered text changed;
#            stats counts the untouched XLIFF's runs, words and tags as the TTX's, and the
#            client's XLIFF as all translated with no words left;
#   schemas also: `tagvert pseudo` of every XLIFF written validates and merges as the clients'.
# Usage: run.sh schemas|toolkit|npm TAGVERT SOURCE_DIR SAMPLES_DIR WORK_DIR [NODE_MODULES]
# SPDX-License-Identifier: Apache-2.0
set -eu
mode=$1 tagvert=$2 source=$3 samples=$4 work=$5 modules=${6:-}
here="$(cd "$(dirname "$0")" && pwd)"
schemas=${XLIFF_SCHEMAS:-/usr/share/php/Symfony/Component/Translation/Resources/schemas}
python=/usr/bin/python3 # Debian's own: translate-toolkit is installed for it
fail() { echo "FAIL: $*" >&2; failed=$((failed + 1)); }
failed=0 passed=0

w=$work/$mode
rm -rf "${w:?}" && mkdir -p "$w/docs"
for f in "$samples"/*/*.ttx "$source"/tests/data/*/*.ttx "$source"/examples/*.ttx; do
  [ -f "$f" ] || continue
  n="$w/docs/$(basename "$(dirname "$f")")_$(basename "$f" .ttx)"
  cp "$f" "$n.ttx"
  [ ! -f "${f%.ttx}.direction" ] || cp "${f%.ttx}.direction" "$n.direction"
done
"$python" "$here/gen_ttx.py" 27 200 "$w/docs"

# options DOC: what the conversions of DOC take (the test documents' direction files).
options() {
  echo --force --quiet
  [ ! -f "${1%.ttx}.direction" ] || echo --direction "$(cat "${1%.ttx}.direction")"
}

# to_xliff VERSION DIR: the XLIFF of every document into DIR.
to_xliff() {
  mkdir -p "$2"
  for f in "$w"/docs/*.ttx; do
    # shellcheck disable=SC2046
    "$tagvert" to-xliff "$f" -o "$2/$(basename "$f" .ttx).xlf" --xliff "$1" $(options "$f") ||
      fail "to-xliff --xliff $1 $f"
  done
}

# counts FILE WHAT [OPTION...]: of tagvert stats' total, "runs" the runs, words and tags, "units"
# the units, "left" the units, the translated ones and the words.
counts() {
  counted=$1 what=$2
  shift 2
  "$tagvert" stats --json -qq "$counted" "$@" | sed -n 's/^"total": {"units": \([0-9]*\), "matched": \([0-9]*\), "runs": \([0-9]*\), "words": \([0-9]*\), "tags": \([0-9]*\).*/\1 \2 \3 \4 \5/p' |
    case $what in runs) cut -d' ' -f3-;; units) cut -d' ' -f1;; left) cut -d' ' -f1,2,4;; esac
}

# merge CLIENT_DIR XLIFF_DIR: from-xliff of each client-written file compared with the
# pseudo-translation (XLIFF_DIR: the untouched XLIFF).
merge() {
  mkdir -p "$w/merged" "$w/expected"
  for f in "$w"/docs/*.ttx; do
    n=$(basename "$f" .ttx)
    [ -f "$1/$n.xlf" ] || continue
    # shellcheck disable=SC2046
    "$tagvert" pseudo "$f" -o "$w/expected/$n.ttx" $(options "$f")
    if ! "$tagvert" from-xliff "$1/$n.xlf" -o "$w/merged/$n.ttx" --quiet; then
      fail "from-xliff $1/$n.xlf"
    elif xmllint --noout "$f" 2>/dev/null && ! xmllint --noout "$w/merged/$n.ttx"; then
      fail "$n: the merged TTX is not well-formed"
    elif ! cmp -s "$w/expected/$n.ttx" "$w/merged/$n.ttx"; then
      fail "$n: the merged TTX differs from tagvert pseudo's ($w/merged/$n.ttx, $w/expected/$n.ttx)"
    elif [ "$(counts "$2/$n.xlf" runs)" != "$(counts "$f" runs $(options "$f"))" ]; then
      fail "$n: stats of the XLIFF counts other runs, words or tags than of the TTX"
    elif u=$(counts "$2/$n.xlf" units) && [ "$(counts "$1/$n.xlf" left)" != "$u $u 0" ]; then
      fail "$n: stats of the translated XLIFF: $(counts "$1/$n.xlf" left)"
    else
      passed=$((passed + 1))
    fi
  done
}

case "$mode" in
  schemas)
    # The schemas import xml.xsd from the W3C's address (1.2) and from a folder Debian does not
    # ship (2.0): both point at the copy beside them.
    cat >"$w/catalog.xml" <<EOF
<?xml version="1.0"?>
<catalog xmlns="urn:oasis:names:tc:entity:xmlns:xml:catalog">
  <uri name="http://www.w3.org/2001/xml.xsd" uri="file://$schemas/xml.xsd"/>
  <uri name="$schemas/informativeCopiesOf3rdPartySchemas/w3c/xml.xsd" uri="file://$schemas/xml.xsd"/>
</catalog>
EOF
    for version in 1.2 2.0; do
      to_xliff "$version" "$w/$version"
      mkdir -p "$w/$version-pseudo"
      for f in "$w/$version"/*.xlf; do
        "$tagvert" pseudo -q "$f" -o "$w/$version-pseudo/$(basename "$f")" || fail "pseudo $f"
      done
      merge "$w/$version-pseudo" "$w/$version"
      XML_CATALOG_FILES="$w/catalog.xml" xmllint --noout --nonet \
        --schema "$schemas/xliff-core-$version$([ "$version" = 1.2 ] && echo -strict).xsd" \
        "$w/$version"/*.xlf "$w/$version-pseudo"/*.xlf 2>"$w/xmllint-$version.log" || true
      passed=$((passed + $(grep -c ' validates$' "$w/xmllint-$version.log" || true)))
      if grep -v ' validates$' "$w/xmllint-$version.log" >&2; then
        invalid=$(grep -c ' fails to validate$' "$w/xmllint-$version.log" || true)
        fail "$invalid files of XLIFF $version not valid (above)"
        failed=$((failed + invalid - 1))
      fi
    done
    ;;
  toolkit)
    to_xliff 1.2 "$w/xliff"
    "$python" "$here/toolkit_client.py" "$w/xliff" "$w/client"
    merge "$w/client" "$w/xliff"
    ;;
  npm)
    to_xliff 2.0 "$w/xliff"
    node "$here/npm_client.js" "$modules" "$w/xliff" "$w/client"
    merge "$w/client" "$w/xliff"
    ;;
  *) echo "usage: run.sh schemas|toolkit|npm TAGVERT SOURCE_DIR SAMPLES_DIR WORK_DIR [NODE_MODULES]" >&2; exit 2 ;;
esac
echo "xliff $mode: $passed passed, $failed failed"
[ "$failed" -eq 0 ] && [ "$passed" -gt 200 ]
