# Tagvert benchmark: the hostile set, sourced by run.sh (BUILD_DIR hostile [DIVISOR]) with $build,
# $bench, $work and the measuring helper in $work/measure. Each document is generated here,
# converted once, and removed. The last lines judge the way back of the nested tags and the
# pathological shapes (nested and unclosed tags, ut, a long attribute value, one text run)
# against the bench document, per MB.
# SPDX-License-Identifier: Apache-2.0
divisor="${2:-1}"
tagvert="$build/tagvert"
[ -x "$tagvert" ] || { echo "run.sh: $tagvert not built" >&2; exit 1; }

# n COUNT: COUNT divided by the divisor.
n() { echo $(($1 / divisor)); }
# repeat COUNT TEXT: TEXT repeated COUNT times.
repeat() { awk -v n="$1" -v t="$2" 'BEGIN { for (i = 0; i < n; i++) printf "%s", t }'; }
# fill BYTES CHAR: BYTES bytes of CHAR.
fill() { head -c "$1" /dev/zero | tr '\0' "$2"; }
head_="<TRADOStag><FrontMatter><UserSettings TargetLanguage=\"DE-DE\"/></FrontMatter><Body><Raw>"
tail_="</Raw></Body></TRADOStag>"
# doc: the standard input between the head and the tail of a TTX document.
doc() { printf '%s' "$head_"; cat; printf '%s\n' "$tail_"; }

# hostile_case NAME COMMAND FILE [OPTIONS]: converts FILE once (output to /dev/null) and prints
# the exit status, the time, the peak memory and the first line of the messages.
hostile_case() {
  name=$1 cmd=$2 file=$3
  shift 3
  set -- $(MEASURE_STATUS=1 "$work/measure" "$tagvert" "$cmd" "$file" -o /dev/null "$@" \
    2>"$work/err")
  lastWall=$1
  echo "$name|$1|$(wc -c <"$file")" >>"$work/times"
  # The first message but the notes of a conversion that went well, and how many lines follow.
  grep -a -v -e ': converted ' -e ': target language ' "$work/err" >"$work/said" || true
  awk -v n="$name" -v s="$4" -v w="$1" -v r="$3" -v b="$(wc -c <"$file")" \
    -v m="$(head -n 1 "$work/said" | sed "s|$work/||g" | cut -c1-120)" \
    -v more="$(($(wc -l <"$work/said") - 1))" 'BEGIN {
    if (more > 0) m = m " (+" more " lines)"
    printf "  %-18s %8.1f MB  status %3d  %8.2f s  peak %7.1f MiB  %s\n", n, b / 1048576, s, w,
           r / 1024, m == "" ? "(no message)" : m }'
  rm -f "$file"
}

: >"$work/times"
echo "tagvert hostile set, sizes divided by $divisor, $(nproc) cores," \
  "load $(cut -d' ' -f1-3 /proc/loadavg)"
nested=$(n 1000000)
{ repeat "$nested" "<b>"; printf x; repeat "$nested" "</b>"; } | doc >"$work/nested.ttx"
"$tagvert" to-if "$work/nested.ttx" -o "$work/nested.if" --quiet
hostile_case "nested tags" to-if "$work/nested.ttx"
cp "$work/nested.if" "$work/nested-back.if"
# Quiet, as the bench document below: the ratio compares the conversions, not their warnings.
hostile_case "nested, way back" from-if "$work/nested-back.if" --quiet
backWall=$lastWall
repeat "$(n 1000000)" "<b>" | doc >"$work/f" && hostile_case "unclosed tags" to-if "$work/f"
{ printf '<Tu><Tuv Lang="DE-DE">'; repeat "$(n 1000000)" '<ut Type="start">x</ut>'; } | doc \
  >"$work/f" && hostile_case "ut" to-if "$work/f"
{ printf '<b a="'; fill "$(n 100000000)" a; printf '">'; } | doc >"$work/f" &&
  hostile_case "attribute value" to-if "$work/f"
fill "$(n 200000000)" a | doc >"$work/f" && hostile_case "text run" to-if "$work/f"
fill "$(n 10000000)" '&' | doc >"$work/f" && hostile_case "ampersands" to-if "$work/f"
{ printf '&#'; fill "$(n 10000000)" 7; printf ';'; } | doc >"$work/f" &&
  hostile_case "reference digits" to-if "$work/f"
repeat "$(n 1000000)" '&#x110000;&#xD800;&#xDFFF;&#99999999;' | doc >"$work/f" &&
  hostile_case "references" to-if "$work/f"
{ printf '\377\376'; repeat "$(n 1000000)" "<b>text</b>" | doc | iconv -f UTF-8 -t UTF-16LE;
  printf x; } >"$work/f" && hostile_case "odd UTF-16" to-if "$work/f"
repeat "$(n 1000000)" '<Tu x="1">axb</Tu x>x' | doc | tr x '\000' >"$work/f" &&
  hostile_case "NUL bytes" to-if "$work/f"
"$bench" generate "$(n 1024)" "$work/f" && hostile_case "1 GB document" to-if "$work/f"
{ printf '\004\350T\000T\000X\000\000\340'; head -c "$(n 100000000)" /dev/urandom; } \
  >"$work/f" && hostile_case "random IF" from-if "$work/f"

# The way back of the nested tags against the bench document's, per MB of IF.
"$bench" generate 5 "$work/bench.ttx"
"$tagvert" to-if "$work/bench.ttx" -o "$work/bench.if" --quiet
set -- $("$work/measure" "$tagvert" from-if "$work/bench.if" -o /dev/null --quiet 2>/dev/null)
benchWall=$1
awk -v w="$backWall" -v nb="$(wc -c <"$work/nested.if")" -v bw="$benchWall" \
  -v bb="$(wc -c <"$work/bench.if")" -v count="$nested" 'BEGIN {
  r = (w / nb) / (bw / bb)
  printf "target: from-if of %d nested tags %.2f x the per-MB time of the bench document (<= 2 %s)\n",
         count, r, r <= 2 ? "ok" : "short" }'

# The pathological shapes against the bench document's TTX to IF, per MB: the median of RUNS
# conversions of a bench document of 50 MB (divided by the divisor) to /dev/null.
mb=$((50 / divisor))
[ "$mb" -ge 1 ] || mb=1
"$bench" generate "$mb" "$work/bench50.ttx"
i=0
: >"$work/bench.times"
while [ "$i" -lt "${RUNS:-5}" ]; do
  "$work/measure" "$tagvert" to-if "$work/bench50.ttx" -o /dev/null --quiet >>"$work/bench.times"
  i=$((i + 1))
done
benchWall=$(sort -n "$work/bench.times" | sed -n "$(((${RUNS:-5} + 1) / 2))p" | cut -d' ' -f1)
awk -F'|' -v bw="$benchWall" -v bb="$(wc -c <"$work/bench50.ttx")" -v mb="$mb" '
  BEGIN { judged["nested tags"] = judged["unclosed tags"] = judged["ut"] = 1
          judged["attribute value"] = judged["text run"] = 1 }
  $1 in judged { r = ($2 / $3) / (bw / bb)
    printf "target: to-if of %s %.2f x the per-MB time of the %d MB bench document (<= 1.5 %s)\n",
           $1, r, mb, r <= 1.5 ? "ok" : "short" }' "$work/times"
