#!/bin/sh
# Tagvert: conversion benchmark against two baselines measured in the same run: expat parsing
# the same TTX (counting start tags, end tags and character data) and iconv transcoding the same
# IF from UTF-16LE to UTF-8, each run alternating with the conversion it is compared with. Prints
# per size and direction the median wall time of RUNS runs, its CPU time, MB/s, peak resident memory, memory / input and the ratios to the baselines; the
# last line holds the targets, each marked ok or short.
# Usage: bench/run.sh [BUILD_DIR [SIZE_MB...]]   (default build/release, sizes 5 and 50)
#        bench/run.sh BUILD_DIR hostile [DIVISOR]
# The second form runs the hostile set instead (generated, never kept): documents built to hurt
# a converter, each converted once by the tagvert command, with its exit status, its message
# and its peak memory; DIVISOR (default 1) divides every size, for a quick look. Its last line
# is the way-back target: from-if of the nested tags within 2 x the per-MB time of the bench
# document.
# Environment: RUNS (default 5). Exit status 77 when the baselines cannot be built.
set -eu
build="${1:-build/release}"
[ $# -gt 0 ] && shift
sizes="${*:-5 50}"
runs="${RUNS:-5}"
here="$(cd "$(dirname "$0")" && pwd)"
bench="$build/bench/tagvert_bench"
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

# Runs two commands alternately, RUNS times each, so that a baseline and the conversion it is
# compared with meet the same load on a shared machine; the measurements of the first go to
# $work/a, those of the second to $work/b ("WALL CPU RSS_KIB" per line). The commands are given
# as the names of shell functions.
alternate() {
  : >"$work/a"
  : >"$work/b"
  i=0
  while [ "$i" -lt "$runs" ]; do
    $1 >>"$work/a"
    $2 >>"$work/b"
    i=$((i + 1))
  done
}

# The median wall time of a file of measurements, the CPU time of that run and the largest peak
# memory (KiB) seen.
median() {
  sort -n "$1" | awk -v n="$runs" '
    { wall[NR] = $1; cpu[NR] = $2; if ($3 > rss) rss = $3 }
    END { m = int((n + 1) / 2); printf "%s %s %d\n", wall[m], cpu[m], rss }'
}

bytes() { wc -c <"$1" | tr -d ' '; }

# The four measured commands, over the current document $ttx and its IF.
run_expat() { "$work/measure" "$work/expat_count" "$ttx"; }
run_to_if() { "$work/measure" "$bench" to-if "$ttx"; }
run_iconv() { "$work/measure" iconv -c -f UTF-16LE -t UTF-8 -o "$work/iconv.out" "$ttx.if"; }
run_from_if() { "$work/measure" "$bench" from-if "$ttx.if"; }
# The XLIFF bridge against the IF conversions of the same command (both choose the direction
# from the document the same way).
tagvert="$build/tagvert"
run_cli_to_if() { "$work/measure" "$tagvert" to-if "$ttx" -o "$work/cli.if" -q; }
run_to_xliff() { "$work/measure" "$tagvert" to-xliff "$ttx" -o "$ttx.xlf" -q; }
run_cli_from_if() { "$work/measure" "$tagvert" from-if "$ttx.if" -o "$work/cli.ttx" -q; }
run_from_xliff() { "$work/measure" "$tagvert" from-xliff "$ttx.xlf" -o "$work/xliff.ttx" -q; }
xliff=""
"$tagvert" to-xliff --help >/dev/null 2>&1 && xliff=yes

# One result line: label, wall, cpu, rss KiB, input bytes, baseline wall (or 0), baseline name.
row() {
  awk -v l="$1" -v w="$2" -v c="$3" -v r="$4" -v b="$5" -v base="$6" -v bn="$7" 'BEGIN {
    mb = b / 1048576; rssmb = r / 1024
    ratio = base > 0 ? sprintf("%.2f x %s", w / base, bn) : ""
    printf "  %-8s %8.3f s  cpu %7.3f s  %8.1f MB/s  peak %8.1f MiB  %6.2f x input  %s\n",
           l, w, c, mb / w, rssmb, r * 1024 / b, ratio }'
}

if [ "${1:-}" = hostile ]; then
  . "$here/hostile.sh"
  exit 0
fi

echo "tagvert benchmark: median of $runs runs per measurement, $(nproc) cores," \
  "load $(cut -d' ' -f1-3 /proc/loadavg)"
first=""
last=""
fromRssMax=0
for mb in $sizes; do
  ttx="$work/doc$mb.ttx"
  "$bench" generate "$mb" "$ttx"
  "$bench" to-if "$ttx" >/dev/null # writes $ttx.if, the input of the other direction
  ttxBytes=$(bytes "$ttx")
  ifBytes=$(bytes "$ttx.if")
  alternate run_expat run_to_if
  set -- $(median "$work/a")
  expatWall=$1 expatCpu=$2 expatRss=$3
  set -- $(median "$work/b")
  toWall=$1 toCpu=$2 toRss=$3
  alternate run_iconv run_from_if
  set -- $(median "$work/a")
  iconvWall=$1 iconvCpu=$2 iconvRss=$3
  set -- $(median "$work/b")
  fromWall=$1 fromCpu=$2 fromRss=$3
  echo "$mb MB: TTX $ttxBytes bytes, IF $ifBytes bytes"
  row expat "$expatWall" "$expatCpu" "$expatRss" "$ttxBytes" 0 ""
  row "TTX->IF" "$toWall" "$toCpu" "$toRss" "$ttxBytes" "$expatWall" expat
  row iconv "$iconvWall" "$iconvCpu" "$iconvRss" "$ifBytes" 0 ""
  row "IF->TTX" "$fromWall" "$fromCpu" "$fromRss" "$ifBytes" "$iconvWall" iconv
  awk -v a="$toCpu" -v b="$expatCpu" -v c="$fromCpu" -v d="$iconvCpu" 'BEGIN {
    printf "  cpu ratios: TTX->IF %.2f x expat, IF->TTX %.2f x iconv\n", a / b, c / d }'
  if [ -n "$xliff" ]; then
    alternate run_cli_to_if run_to_xliff
    set -- $(median "$work/a")
    cliToWall=$1
    set -- $(median "$work/b")
    xToWall=$1 xToCpu=$2 xToRss=$3
    alternate run_cli_from_if run_from_xliff
    set -- $(median "$work/a")
    cliFromWall=$1
    set -- $(median "$work/b")
    xFromWall=$1 xFromCpu=$2 xFromRss=$3
    xlfBytes=$(bytes "$ttx.xlf")
    row "TTX->XLF" "$xToWall" "$xToCpu" "$xToRss" "$ttxBytes" "$cliToWall" to-if
    row "XLF->TTX" "$xFromWall" "$xFromCpu" "$xFromRss" "$xlfBytes" "$cliFromWall" from-if
    xline="$mb $xToWall $cliToWall $xFromWall $cliFromWall $xFromRss $xlfBytes"
  fi
  # IF->TTX memory must stay flat: the target takes the largest peak of all sizes.
  [ "$fromRss" -gt "$fromRssMax" ] && fromRssMax=$fromRss
  line="$mb $ttxBytes $toWall $expatWall $toRss $fromWall $iconvWall $fromRssMax"
  [ -z "$first" ] && first="$line"
  last="$line"
done

# Targets on the largest size; the scaling target compares the largest with the smallest size
# (time may grow by at most 1.1 times the size ratio: 11 for 5 MB to 50 MB).
echo "$first $last" | awk '
  function mark(ok) { return ok ? "ok" : "short" }
  { smb = $1; stime = $3; mb = $9; in_ = $10; tw = $11; ew = $12; trss = $13
    fw = $14; iw = $15; frss = $16
    r1 = tw / ew; r2 = fw / iw; r3 = trss * 1024 / in_; r4 = frss / 1024
    line = sprintf("targets (%s MB): TTX->IF %.2f x expat (<= 1.0 %s), IF->TTX %.2f x iconv (<= 1.0 %s), TTX->IF peak %.2f x input (<= 5 %s), IF->TTX peak at any size %.1f MiB (< 32 %s)",
      mb, r1, mark(r1 <= 1.0), r2, mark(r2 <= 1.0), r3, mark(r3 <= 5), r4, mark(r4 < 32))
    if (mb != smb) {
      s = tw / stime; limit = 1.1 * mb / smb
      line = line sprintf(", time(%s MB)/time(%s MB) %.1f (<= %.0f %s)", mb, smb, s, limit, mark(s <= limit))
    }
    print line }'
# The bridge's targets on the largest size, in the same run.
[ -n "$xliff" ] && echo "$xline" | awk '
  function mark(ok) { return ok ? "ok" : "short" }
  { r1 = $2 / $3; r2 = $4 / $5; r3 = $6 * 1024 / $7
    printf "xliff targets (%s MB): TTX->XLIFF %.2f x to-if (<= 1.5 %s), XLIFF->TTX %.2f x from-if (<= 2 %s), XLIFF->TTX peak %.2f x XLIFF (<= 3 %s)\n",
      $1, r1, mark(r1 <= 1.5), r2, mark(r2 <= 2), r3, mark(r3 <= 3) }'
exit 0
