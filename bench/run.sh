#!/bin/sh
# Tagvert: conversion benchmark against baselines measured in the same run, on generated
# documents of three shapes: "latin" (the bench document: Latin text in long runs), "mixed"
# (text in several scripts, more inline tags, shorter runs) and "cjk" (Chinese and Japanese
# text). Baselines: expat parsing the TTX (counting start tags, end tags and character data),
# iconv transcoding the TTX from UTF-8 to UTF-16LE into a file, and iconv transcoding the IF
# from UTF-16LE to UTF-8 into a file. Measured: the library's conversions (tagvert_bench) and
# the command as users run it (tagvert to-if, from-if, pseudo with -o FILE; stats, check and
# show to /dev/null; all quiet), its batch (-j 1 against -j 2) and the XLIFF bridge.
# Every command of a document runs once per round, RUNS rounds, each round in a rotated order,
# so that a baseline and what is compared with it meet the same load on a shared machine. Per
# command it prints the median wall time, the median CPU time (user + system), MB/s, the peak
# resident memory (largest of the rounds) and memory / input; then every target as wall / CPU
# ratios, each marked ok or short, and a count.
# Usage: bench/run.sh [BUILD_DIR [SIZE_MB...]]   (default build/release, sizes 5 and 50)
#        bench/run.sh BUILD_DIR quick            (the latin document only, 5 and 50 MB)
#        bench/run.sh BUILD_DIR hostile [DIVISOR]
# The largest size is the one the targets are judged on; the scale target compares it with the
# smallest. The CJK document has the largest size but at most 20 MB; the batch converts 20
# documents of the smallest size but at most 5 MB.
# The third form runs the hostile set instead (generated, never kept): documents built to hurt
# a converter, each converted once by the tagvert command, with its exit status, its message,
# its peak memory and its time per MB against the bench document's; DIVISOR (default 1) divides
# every size, for a quick look.
# Environment: RUNS (default 5); PARTS, the parts to run (default "latin mixed cjk batch
# xliff"). Exit status 77 when the baselines cannot be built.
set -eu
build="${1:-build/release}"
[ $# -gt 0 ] && shift
parts="${PARTS:-latin mixed cjk batch xliff}"
if [ "${1:-}" = quick ]; then
  parts=latin
  shift
fi
sizes="${*:-5 50}"
runs="${RUNS:-5}"
here="$(cd "$(dirname "$0")" && pwd)"
bench="$build/bench/tagvert_bench"
tagvert="$build/tagvert"
[ -x "$bench" ] || { echo "run.sh: $bench not built (preset release)" >&2; exit 1; }
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# Baselines: expat's counter (libexpat1-dev installed when missing) and the time/memory probe.
cc="${CC:-cc}"
if ! printf '#include <expat.h>\n' | "$cc" -E -x c - >/dev/null 2>&1; then
  echo "== installing libexpat1-dev" >&2
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo -n"
  n=0
  until $sudo apt-get update >/dev/null 2>&1; do
    n=$((n + 1))
    [ "$n" -ge 3 ] && break
    sleep $((n * 5))
  done
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends \
    libexpat1-dev >/dev/null 2>&1 || true
fi
"$cc" -O2 -o "$work/expat_count" "$here/expat_count.c" -lexpat 2>/dev/null ||
  { echo "run.sh: cannot build the expat baseline (libexpat1-dev)" >&2; exit 77; }
"$cc" -O2 -o "$work/measure" "$here/measure.c" ||
  { echo "run.sh: cannot build the measuring helper" >&2; exit 77; }
command -v iconv >/dev/null || { echo "run.sh: iconv missing" >&2; exit 77; }

if [ "${1:-}" = hostile ]; then
  . "$here/hostile.sh"
  exit 0
fi
[ -x "$tagvert" ] || { echo "run.sh: $tagvert not built" >&2; exit 1; }
has() { case " $parts " in *" $1 "*) return 0 ;; esac; return 1; }

# The measured commands, over the current document $ttx (direction $dir for the library) and
# its IF $ttx.if; each appends "WALL CPU RSS_KIB" to $work/m.NAME. The messages of the command
# (the warnings -q leaves) go to $work/err.
measure() {
  name=$1
  shift
  "$work/measure" "$@" >>"$work/m.$name" 2>"$work/err" ||
    { cat "$work/err" >&2; echo "run.sh: $name failed" >&2; exit 1; }
}
run_expat() { measure expat "$work/expat_count" "$ttx"; }
run_iconv8() { measure iconv8 iconv -f UTF-8 -t UTF-16LE "$ttx" -o "$work/iconv.if"; }
run_libto() { measure libto "$bench" to-if "$ttx" $dir; }
run_to() { measure to "$tagvert" to-if "$ttx" -o "$work/cli.if" -q; }
run_iconv16() { measure iconv16 iconv -c -f UTF-16LE -t UTF-8 -o "$work/iconv.ttx" "$ttx.if"; }
run_libfrom() { measure libfrom "$bench" from-if "$ttx.if"; }
run_from() { measure from "$tagvert" from-if "$ttx.if" -o "$work/cli.ttx" -q; }
run_stats() { measure stats "$tagvert" stats "$ttx" -q; }
# check finds no problem in a generated document; its status 1 (problems) is not a failure.
run_check() {
  set -- $(MEASURE_STATUS=1 "$work/measure" "$tagvert" check "$ttx" -q 2>"$work/err")
  [ "$4" -le 1 ] || { cat "$work/err" >&2; echo "run.sh: check failed" >&2; exit 1; }
  echo "$1 $2 $3" >>"$work/m.check"
}
run_show() { measure show "$tagvert" show "$ttx" -q; }
run_pseudo() { measure pseudo "$tagvert" pseudo "$ttx" -o "$work/pseudo.ttx" -q; }
run_toxlf() { measure toxlf "$tagvert" to-xliff "$ttx" -o "$ttx.xlf" -q; }
run_fromxlf() { measure fromxlf "$tagvert" from-xliff "$ttx.xlf" -o "$work/xliff.ttx" -q; }
run_j1() { measure j1 "$tagvert" to-if -j 1 -q -O "$work/batch1" "$work"/batch/*.ttx; }
run_j2() { measure j2 "$tagvert" to-if -j 2 -q -O "$work/batch2" "$work"/batch/*.ttx; }
run_one() { measure one "$tagvert" to-if "$work/batch/b1.ttx" -o "$work/one.if" -q; }

# rounds NAME...: RUNS rounds of the commands, round i starting at the i-th command.
rounds() {
  for name in "$@"; do : >"$work/m.$name"; done
  i=0
  while [ "$i" -lt "$runs" ]; do
    j=0
    for name in "$@"; do
      [ "$j" -ge "$i" ] && "run_$name"
      j=$((j + 1))
    done
    j=0
    for name in "$@"; do
      [ "$j" -lt "$i" ] && "run_$name"
      j=$((j + 1))
    done
    i=$((i + 1))
  done
}

# med NAME: "WALL CPU RSS_KIB", the median wall time, the median CPU time and the largest peak.
med() {
  awk '{ print $1 }' "$work/m.$1" | sort -n >"$work/w"
  awk '{ print $2 }' "$work/m.$1" | sort -n >"$work/c"
  awk '{ print $3 }' "$work/m.$1" | sort -n | tail -n 1 >"$work/r"
  m=$(((runs + 1) / 2))
  echo "$(sed -n "${m}p" "$work/w") $(sed -n "${m}p" "$work/c") $(cat "$work/r")"
}

bytes() { wc -c <"$1" | tr -d ' '; }

# row LABEL NAME BYTES [REF...]: one result line, with wall / CPU ratios to the commands REF
# (a REF a+b is the sum of two commands).
row() {
  label=$1 name=$2 size=$3
  shift 3
  ratios=""
  for ref in "$@"; do
    ratios="$ratios $(ratio "$name" "$ref") x $(label "$ref"),"
  done
  set -- $(med "$name")
  awk -v l="$label" -v w="$1" -v c="$2" -v r="$3" -v b="$size" -v t="${ratios%,}" 'BEGIN {
    printf "  %-13s %7.3f s  cpu %7.3f s  %7.1f MB/s  peak %7.1f MiB %6.2f x input %s\n",
           l, w, c, b / 1048576 / w, r / 1024, r * 1024 / b, t }'
}

label() {
  case $1 in
  iconv8) echo iconv-8-16 ;; iconv16) echo iconv-16-8 ;; libto) echo lib-to-if ;;
  libfrom) echo lib-from-if ;; to) echo to-if ;; from) echo from-if ;;
  to+from) echo to-if+from-if ;; *) echo "$1" ;;
  esac
}

# ratio NAME REF: "W/C", the wall and CPU ratios of NAME to REF (a+b: the sum).
ratio() {
  set -- $(med "$1") $(sumstat "$2")
  awk -v w="$1" -v c="$2" -v rw="$4" -v rc="$5" 'BEGIN { printf "%.2f/%.2f", w / rw, c / rc }'
}
sumstat() {
  case $1 in
  *+*) set -- $(med "${1%+*}") $(med "${1#*+}")
    awk -v a="$1" -v b="$2" -v c="$4" -v d="$5" 'BEGIN { print a + c, b + d, 0 }' ;;
  *) med "$1" ;;
  esac
}

# Targets, collected in $work/targets and printed at the end, one per line:
# time NUMBER DOCUMENT WHAT WALL CPU LIMIT  (ok when both ratios are at most LIMIT)
# once NUMBER DOCUMENT WHAT VALUE LIMIT [UNIT] (ok when the value is at most LIMIT)
# least NUMBER DOCUMENT WHAT VALUE LIMIT   (ok when the value is at least LIMIT)
: >"$work/targets"
target_time() { # NUMBER DOCUMENT WHAT NAME REF LIMIT
  set -- "$1" "$2" "$3" "$(ratio "$4" "$5")" "$6"
  echo "time $1 $2 $3 ${4%/*} ${4#*/} $5" >>"$work/targets"
}
target_once() { echo "once $*" >>"$work/targets"; }
peak() { set -- $(med "$1"); echo "$3"; }
wall() { set -- $(med "$1"); echo "$1"; }
cpu() { set -- $(med "$1"); echo "$2"; }
div() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

# document SHAPE MB [NAME...]: generates the document, measures the commands NAME and prints
# their lines; the measurements stay in $work/SHAPE.MB.NAME for the scale target.
document() {
  shape=$1 mb=$2
  shift 2
  ttx="$work/$shape$mb.ttx"
  dir=""
  [ "$shape" = cjk ] && dir=0x04060000 # the CJK document's target language is Japanese
  "$bench" generate "$mb" "$ttx" --shape "$shape"
  "$bench" to-if "$ttx" $dir >/dev/null # writes $ttx.if, the input of the other direction
  ttxBytes=$(bytes "$ttx")
  ifBytes=$(bytes "$ttx.if")
  rounds "$@"
  xlfBytes=$([ -f "$ttx.xlf" ] && bytes "$ttx.xlf" || echo 0)
  echo "$shape $mb MB: TTX $ttxBytes bytes, IF $ifBytes bytes (ratios: wall/cpu)"
  for name in "$@"; do
    case $name in
    expat) row expat expat "$ttxBytes" ;;
    iconv8) row "iconv 8->16" iconv8 "$ttxBytes" ;;
    libto) row "lib to-if" libto "$ttxBytes" iconv8 expat ;;
    to) row "to-if" to "$ttxBytes" iconv8 expat libto ;;
    iconv16) row "iconv 16->8" iconv16 "$ifBytes" ;;
    libfrom) row "lib from-if" libfrom "$ifBytes" iconv16 ;;
    from) row "from-if" from "$ifBytes" iconv16 to ;;
    stats | check | show) row "$name" "$name" "$ttxBytes" to ;;
    pseudo) row pseudo pseudo "$ttxBytes" to+from ;;
    toxlf) row "to-xliff" toxlf "$ttxBytes" to ;;
    fromxlf) row "from-xliff" fromxlf "$xlfBytes" from ;;
    esac
    cp "$work/m.$name" "$work/$shape.$mb.$name"
  done
  rm -f "$ttx" "$ttx.if" "$ttx.xlf"
}

# judge SHAPE MB NAME...: the targets on the largest document of a shape.
judge() {
  shape=$1 mb=$2
  shift 2
  d="$shape-$mb"
  for name in "$@"; do
    case $name in
    libto | to)
      w=lib && [ "$name" = to ] && w=cmd
      # The CJK document is judged on its memory only (its time is reported).
      [ "$shape" = cjk ] ||
        target_time 1 "$d" "$w-to-if/iconv-8-16" "$name" iconv8 1.0
      [ "$shape" = cjk ] || target_time 1 "$d" "$w-to-if/expat" "$name" expat 0.6
      [ "$shape" = mixed ] ||
        target_once 2 "$d" "$w-to-if-peak/input" "$(div "$(($(peak "$name") * 1024))" "$ttxBytes")" \
          "$([ "$shape" = cjk ] && echo 3 || echo 2.5)" ;;
    libfrom | from)
      w=lib && [ "$name" = from ] && w=cmd
      target_time 3 "$d" "$w-from-if/iconv-16-8" "$name" iconv16 0.5 ;;
    stats | check | show)
      target_time 4 "$d" "$name/to-if" "$name" to 1.0
      target_once 4 "$d" "$name-peak/to-if" "$(div "$(peak "$name")" "$(peak to)")" 1.0 ;;
    pseudo)
      target_time 4 "$d" "pseudo/to-if+from-if" pseudo to+from 1.0
      target_once 4 "$d" "pseudo-peak/to-if" "$(div "$(peak pseudo)" "$(peak to)")" 1.0 ;;
    toxlf)
      target_time x "$d" "to-xliff/to-if" toxlf to 1.5 ;;
    fromxlf)
      target_time x "$d" "from-xliff/from-if" fromxlf from 2
      target_once x "$d" "from-xliff-peak/XLIFF" \
        "$(div "$(($(peak fromxlf) * 1024))" "$xlfBytes")" 3 ;;
    esac
    [ "$name" = from ] &&
      target_time 4 "$d" "from-if/to-if" from to 1.0 &&
      target_once 4 "$d" "from-if-peak/to-if" "$(div "$(peak from)" "$(peak to)")" 1.0
  done
  return 0
}

# scale SHAPE SMALL LARGE NAME...: time(LARGE) / time(SMALL) at most 1.05 times the size ratio,
# and the way back's memory flat: its peak may grow by 0.05 MiB per MB of input at most.
scale() {
  shape=$1 small=$2 large=$3
  shift 3
  limit=$(awk -v a="$large" -v b="$small" 'BEGIN { print 1.05 * a / b }')
  for name in "$@"; do
    cp "$work/$shape.$large.$name" "$work/m.big"
    cp "$work/$shape.$small.$name" "$work/m.small"
    case $name in expat | iconv8 | iconv16 | toxlf | fromxlf) continue ;; esac
    target_time 6 "$shape-$large/$small" "$(label "$name")" big small "$limit"
    case $name in libfrom | from)
      set -- "$(peak small)" "$(peak big)"
      target_once 3 "$shape-$large/$small" \
        "$(label "$name")-peak:$(awk -v a="$1" -v b="$2" 'BEGIN {
          printf "%.1f->%.1fMiB", a / 1024, b / 1024 }')" \
        "$(awk -v a="$1" -v b="$2" -v s="$small" -v l="$large" 'BEGIN {
          printf "%.3f", (b - a) / 1024 / (l - s) }')" 0.05 ;;
    esac
  done
}

echo "tagvert benchmark: medians of $runs rounds, $(nproc) cores," \
  "load $(cut -d' ' -f1-3 /proc/loadavg)"
small="" large=""
for mb in $sizes; do
  [ -z "$small" ] || awk -v a="$mb" -v b="$small" 'BEGIN { exit !(a < b) }' && small=$mb
  [ -z "$large" ] || awk -v a="$mb" -v b="$large" 'BEGIN { exit !(a > b) }' && large=$mb
done
commands="expat iconv8 libto to iconv16 libfrom from stats check show pseudo"
for shape in latin mixed; do
  has "$shape" || continue
  extra=""
  [ "$shape" = latin ] && has xliff && "$tagvert" to-xliff --help >/dev/null 2>&1 &&
    extra="toxlf fromxlf"
  for mb in $sizes; do
    document "$shape" "$mb" $commands $extra
    [ "$mb" = "$large" ] && judge "$shape" "$mb" $commands $extra
  done
  [ "$small" != "$large" ] && scale "$shape" "$small" "$large" $commands
done
if has cjk; then
  cjk=$(awk -v a="$large" 'BEGIN { print a < 20 ? a : 20 }')
  document cjk "$cjk" expat iconv8 libto to
  judge cjk "$cjk" libto to
fi
if has batch; then
  # 20 copies of one document; -j 2 against -j 1 and the batch's peak against one conversion's.
  bmb=$(awk -v a="$small" 'BEGIN { print a < 5 ? a : 5 }')
  mkdir "$work/batch" "$work/batch1" "$work/batch2"
  "$bench" generate "$bmb" "$work/batch/b1.ttx"
  for i in $(seq 2 20); do cp "$work/batch/b1.ttx" "$work/batch/b$i.ttx"; done
  rounds j1 j2 one
  echo "batch of 20 documents of $bmb MB (ratios: wall/cpu)"
  row "to-if -j 1" j1 $((20 * $(bytes "$work/batch/b1.ttx")))
  row "to-if -j 2" j2 $((20 * $(bytes "$work/batch/b1.ttx"))) j1
  row "one to-if" one "$(bytes "$work/batch/b1.ttx")"
  echo "least 5 batch-20x$bmb speed-up-j2/j1 $(div "$(wall j1)" "$(wall j2)") 1.7" \
    >>"$work/targets"
  target_once 5 "batch-20x$bmb" "batch-peak/2-conversions" \
    "$(div "$(peak j2)" "$((2 * $(peak one)))")" 1.0
fi

echo "targets (wall/cpu ratios; marks for both):"
sort -s -k2,2 "$work/targets" >"$work/targets.sorted"
awk '
  function mark(ok) { return ok ? "ok" : "short" }
  $1 == "time" { ok = $5 <= $7 && $6 <= $7
    printf "  %-2s %-14s %-30s %5.2f / %5.2f  <= %-5s %s / %s\n", $2, $3, $4, $5, $6, $7,
           mark($5 <= $7), mark($6 <= $7) }
  $1 == "once" { ok = $5 <= $6
    printf "  %-2s %-14s %-30s %5.2f          <= %-5s %s\n", $2, $3, $4, $5, $6, mark(ok) }
  $1 == "least" { ok = $5 >= $6
    printf "  %-2s %-14s %-30s %5.2f          >= %-5s %s\n", $2, $3, $4, $5, $6, mark(ok) }
  { n++; if (ok) good++ }
  END { printf "targets: %d judged, %d ok, %d short\n", n, good, n - good }' \
  "$work/targets.sorted"
exit 0
