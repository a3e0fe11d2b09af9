#!/bin/sh
# Tagvert: the command under faults: read errors, files changed while read, full disks, size
# limits, outputs that are not plain files, and stop signals. Whatever happens, an existing
# output is either replaced whole or left as it was, and no temporary file stays behind.
# Usage: fault_test.sh TAGVERT FAULT_SHIM DATA_DIR
set -u
tagvert="$1"
shim="$2"
. "$(dirname "$0")/test_lib.sh"
# The shim is loaded before a sanitizer runtime, which then must not insist on coming first.
export ASAN_OPTIONS="${ASAN_OPTIONS:-}:verify_asan_link_order=0"

# faulty VAR=VALUE... -- ARGS: runs tagvert with the shim and the fault settings; sets $status.
# The stop signals are given their default action: the command's starter may ignore them.
faulty() {
  env --default-signal=INT,TERM,HUP,PIPE LD_PRELOAD="$shim" "$@" >"$work/out" 2>"$work/err"
  status=$?
}

# A document of some 40 KB, read and written in several calls, that names its target language
# (the commands that convert it read it ahead for that).
{
  printf '<?xml version="1.0"?>\n<TRADOStag Version="2.0"><FrontMatter><UserSettings TargetLanguage="FR-FR"/></FrontMatter><Body><Raw>\n'
  i=0
  while [ $i -lt 300 ]; do
    printf '<Tu MatchPercent="0"><Tuv Lang="EN-US">Sentence %d &amp; more</Tuv>' $i
    printf '<Tuv Lang="FR-FR">Phrase %d</Tuv></Tu>\n' $i
    i=$((i + 1))
  done
  printf '</Raw></Body></TRADOStag>\n'
} >"$work/doc.ttx"
"$tagvert" to-if "$work/doc.ttx" -o "$work/good.if" --direction fr-fr --quiet || fail "reference"
"$tagvert" from-if "$work/good.if" -o "$work/good.ttx" --quiet || fail "reference back"

# A folder on standard input is a read error, not an empty document.
"$tagvert" to-if - <"$work" >"$work/out" 2>"$work/err"
[ $? -eq 1 ] || fail "to-if from a folder on standard input did not fail"
contains "$work/err" "cannot read standard input: it is a folder."

# every_fault KIND WATCH MESSAGE ARGS...: makes the k-th KIND call (READ or WRITE) on the file
# named like WATCH fail, for k = 1, 2, ... until `tagvert ARGS --quiet` succeeds with the
# standard output and the file $work/target of a run without faults. Each failure: status 1,
# MESSAGE, nothing on standard output but the frame of a table (stats), the old $work/target
# untouched, no temporary file. Leaves in $k the first call that made no failure.
every_fault() {
  kind=$1 watch=$2 message=$3
  shift 3
  echo old >"$work/target"
  "$tagvert" "$@" --quiet >"$work/clean.out" 2>"$work/err" || fail "$*: $(cat "$work/err")"
  cp "$work/target" "$work/clean.target"
  k=1
  while :; do
    echo old >"$work/target"
    faulty TAGVERT_FAULT_FILE="$watch" "TAGVERT_FAULT_$kind=$k" "$tagvert" "$@" --quiet
    if [ $status -eq 0 ]; then
      cmp -s "$work/out" "$work/clean.out" && cmp -s "$work/target" "$work/clean.target" ||
        fail "$1 $kind $k: succeeded with a wrong output"
      break
    fi
    # check says a file it could not read by status 2.
    [ $status -eq "$([ "$1" = check ] && echo 2 || echo 1)" ] || fail "$1 $kind fault $k: status $status"
    contains "$work/err" "$message"
    grep -v -e '^ *units  *matched' -e '  total$' "$work/out" | grep -q . &&
      fail "$1 $kind fault $k: an output: $(cat "$work/out")"
    [ "$(cat "$work/target")" = old ] || fail "$1 $kind fault $k: the old output changed"
    no_temp "$1 $kind fault $k"
    k=$((k + 1))
    [ $k -gt 40 ] && { fail "$1: $kind calls never stop failing"; break; }
  done
  [ $k -gt 2 ] || fail "$1: one $kind call did all; the loop tried nothing"
}

# Every read of the input failing in turn, for every command that reads a document: the
# read-ahead for the target language and the format tests are reads like any other.
ttxError="cannot read '$work/doc.ttx': input/output error."
every_fault READ doc.ttx "$ttxError" stats "$work/doc.ttx"
every_fault READ doc.ttx "$ttxError" pseudo "$work/doc.ttx" -o "$work/target"
every_fault READ doc.ttx "$ttxError" show "$work/doc.ttx"
every_fault READ doc.ttx "$ttxError" check "$work/doc.ttx"
every_fault READ good.if "cannot read '$work/good.if': input/output error." show "$work/good.if"

# Every read of the input, then every write of the output, failing in turn (a write stores half
# its bytes, then the disk is full); a short read anywhere changes nothing; an input that grows
# while it is read gives no output.
for direction in to-if from-if; do
  if [ $direction = to-if ]; then
    src="$work/doc.ttx" want="$work/good.if" name=doc.ttx opts="--direction fr-fr"
  else
    src="$work/good.if" want="$work/good.ttx" name=good.if opts=""
  fi
  every_fault READ "$name" "cannot read '$src': input/output error." \
    $direction "$src" -o "$work/target"
  reads=$k

  j=1
  while [ $j -lt $reads ]; do
    faulty TAGVERT_FAULT_FILE="$name" TAGVERT_FAULT_SHORT=$j \
      "$tagvert" $direction "$src" -o "$work/target" $opts --quiet
    [ $status -eq 0 ] && cmp -s "$work/target" "$want" || fail "$direction short read $j"
    j=$((j + 1))
  done

  echo old >"$work/target"
  cp "$src" "$work/grow.in"
  faulty TAGVERT_FAULT_FILE=grow.in TAGVERT_FAULT_GROW=2 \
    "$tagvert" $direction "$work/grow.in" -o "$work/target" --quiet
  [ $status -eq 1 ] || fail "$direction: a file that grew while read gave status $status"
  contains "$work/err" "the file changed while it was read"
  [ "$(cat "$work/target")" = old ] || fail "$direction: changed input: the old output changed"
  no_temp "$direction changed input"

  every_fault WRITE target.tagvert- "cannot write '$work/target': the disk is full." \
    $direction "$src" -o "$work/target" $opts
done

# A failed sync of the output's data (the first sync in the work folder) leaves the old output;
# a failed sync of its folder after the rename (the second) leaves the new output in place, but
# the command fails and says that it may not survive a crash.
direction=to-if src="$work/doc.ttx" opts="--direction fr-fr"
for sync in 1 2; do
  echo old >"$work/target"
  faulty TAGVERT_FAULT_FILE="$(basename "$work")" TAGVERT_FAULT_FSYNC=$sync \
    "$tagvert" $direction "$src" -o "$work/target" $opts --quiet
  [ $status -eq 1 ] || fail "failed sync $sync gave status $status"
  contains "$work/err" "cannot write '$work/target': input/output error"
  if [ $sync = 1 ]; then
    [ "$(cat "$work/target")" = old ] || fail "a failed sync of the data changed the old output"
  else
    cmp -s "$work/target" "$work/good.if" || fail "a failed sync of the folder: no new output"
  fi
  no_temp "failed sync $sync"
done
contains "$work/err" "while saving the folder to the disk; the new output is in place but may not survive a system crash."

# A batch puts its outputs in place on a thread of its own while the next files convert: a
# failed sync there fails that file (and with -k only that one), the others are in place.
cp "$work/doc.ttx" "$work/doc2.ttx" && cp "$work/doc.ttx" "$work/doc3.ttx"
for keep in -k ""; do
  rm -rf "$work/bsync"
  faulty TAGVERT_FAULT_FILE=bsync TAGVERT_FAULT_FSYNC=1 "$tagvert" to-if -j 1 $keep -O "$work/bsync" \
    "$work/doc.ttx" "$work/doc2.ttx" "$work/doc3.ttx" --direction fr-fr
  [ $status -eq 1 ] || fail "batch $keep with a failed sync: status $status"
  contains "$work/err" "cannot write '$work/bsync/doc.ttx.if': input/output error"
  [ -f "$work/bsync/doc.ttx.if" ] && fail "batch $keep: the output of a failed sync is in place"
  if [ -n "$keep" ]; then
    contains "$work/err" "2 of 3 files converted, 1 failed"
    cmp -s "$work/bsync/doc3.ttx.if" "$work/good.if" || fail "batch -k after a failed sync"
  fi
  no_temp "batch $keep with a failed sync"
done

# A Ctrl-C that comes once the conversion has finished, while its output is saved, still ends
# the command by the signal (the output is complete and in place).
faulty TAGVERT_FAULT_FILE="$(basename "$work")" TAGVERT_FAULT_SIGNAL=2 \
  "$tagvert" $direction "$src" -o "$work/target" $opts --quiet
[ $status -eq 130 ] || fail "a Ctrl-C while the output was saved gave status $status"
cmp -s "$work/target" "$work/good.if" || fail "a Ctrl-C while the output was saved: no new output"
no_temp "Ctrl-C while the output was saved"

# Memory that runs out, in the read-ahead or the conversion of every command: one sentence,
# status 1, no output, no temporary file. A text run of 16 MB takes more than 40 MB of address
# space; a sanitizer build, which cannot start at all under such a limit, skips this.
if (ulimit -v 40000 && "$tagvert" --version) >/dev/null 2>&1; then
  awk 'BEGIN { printf "<TRADOStag><FrontMatter><UserSettings TargetLanguage=\"DE-DE\"/></FrontMatter><Body><Raw>"
    for (i = 0; i < 160000; i++) printf "%0100d", 0; print "</Raw></Body></TRADOStag>" }' >"$work/run.ttx"
  cp "$work/run.ttx" "$work/run2.ttx"
  "$tagvert" to-if "$work/run.ttx" -o "$work/run.if" --quiet || fail "run.if"
  w="$work"
  for args in "to-if $w/run.ttx -o $w/target" "from-if $w/run.if -o $w/target" \
    "stats $w/run.ttx" "pseudo $w/run.ttx -o $w/target" "check $w/run.ttx" "show $w/run.ttx" \
    "show $w/run.if" "to-if -j 2 $w/run.ttx $w/run2.ttx -O $w/outdir"; do
    echo old >"$work/target"
    (ulimit -v 40000 && exec "$tagvert" $args --quiet) >"$work/out" 2>"$work/err"
    status=$?
    [ $status -eq 1 ] || fail "$args out of memory: status $status"
    contains "$work/err" "tagvert: not enough memory to convert '$w/run"
    grep -v -e '^ *units  *matched' -e '  total$' "$work/out" | grep -q . &&
      fail "$args out of memory: an output"
    [ "$(cat "$work/target")" = old ] || fail "$args out of memory: the old output changed"
    [ -n "$(ls -A "$work/outdir" 2>/dev/null)" ] && fail "$args out of memory: $(ls "$work/outdir")"
    no_temp "$args out of memory"
  done
fi

# detect names the cause of a read error.
faulty TAGVERT_FAULT_FILE=doc.ttx TAGVERT_FAULT_READ=1 "$tagvert" detect "$work/doc.ttx"
[ $status -eq 1 ] || fail "detect with a read error: status $status"
contains "$work/out" "doc.ttx: error: input/output error"

# A folder of -O on a read-only file system: the command's own words for the cause (EROFS, 30).
faulty TAGVERT_FAULT_FILE=ro-out TAGVERT_FAULT_MKDIR=30 "$tagvert" to-if "$work/doc.ttx" -O "$work/ro-out"
[ "$status/$(cat "$work/err")" = "1/tagvert: cannot make the folder '$work/ro-out': the file system is read-only." ] ||
  fail "-O on a read-only file system: status $status, $(cat "$work/err")"

# detect ends on an endless input.
"$tagvert" detect /dev/zero >"$work/out" 2>&1
contains "$work/out" "/dev/zero: not TTX"

# Beyond the file size limit: reported like a full disk, the old output untouched.
echo old >"$work/target"
(ulimit -f 8 && "$tagvert" to-if "$work/doc.ttx" -o "$work/target" --quiet) 2>"$work/err"
[ $? -eq 1 ] || fail "a write beyond the size limit did not fail with status 1"
contains "$work/err" "the output file is too large for this system's limit."
[ "$(cat "$work/target")" = old ] || fail "size limit: the old output changed"
no_temp "size limit"

# A replaced output keeps its mode, and its owner where permitted.
echo old >"$work/mode.if"
chmod 640 "$work/mode.if"
if [ "$(id -u)" -eq 0 ]; then chown 65534:65534 "$work/mode.if"; fi
"$tagvert" to-if "$work/doc.ttx" -o "$work/mode.if" --direction fr-fr --quiet || fail "mode.if"
[ "$(stat -c %a "$work/mode.if")" = 640 ] || fail "the output's mode became $(stat -c %a "$work/mode.if")"
if [ "$(id -u)" -eq 0 ]; then
  [ "$(stat -c %u:%g "$work/mode.if")" = 65534:65534 ] || fail "the output's owner changed"
fi
cmp -s "$work/mode.if" "$work/good.if" || fail "mode.if has the wrong content"

# A symbolic link is followed: the link stays, its target gets the output.
echo old >"$work/real.if"
ln -s real.if "$work/link.if"
"$tagvert" to-if "$work/doc.ttx" -o "$work/link.if" --direction fr-fr --quiet || fail "link.if"
[ -L "$work/link.if" ] || fail "the symbolic link was replaced"
cmp -s "$work/real.if" "$work/good.if" || fail "the link's target did not get the output"

# A named pipe is written into, not replaced by a file.
mkfifo "$work/pipe"
cat "$work/pipe" >"$work/from-pipe" &
reader=$!
"$tagvert" to-if "$work/doc.ttx" -o "$work/pipe" --direction fr-fr --quiet || fail "-o pipe"
wait $reader
[ -p "$work/pipe" ] || fail "the named pipe was replaced"
cmp -s "$work/from-pipe" "$work/good.if" || fail "the pipe's reader did not get the output"
no_temp "named pipe"

# A stop while the command waits for a reader of a named pipe: the command's own sentence.
mkfifo "$work/noreader"
env --default-signal=INT "$tagvert" to-if "$work/doc.ttx" -o "$work/noreader" --quiet 2>"$work/err" &
pid=$!
sleep 0.5
kill -s INT $pid
wait $pid
[ $? -eq 130 ] || fail "a stop while waiting for a reader: status not 130"
contains "$work/err" "tagvert: the conversion of '$work/doc.ttx' was stopped; no output file was written."

# Stop signals: the conventional status 128 + n, the old output untouched, no temporary file.
# The input is a pipe kept open, so the signal surely comes while the command reads; the signals
# are sent once the temporary output exists, when the command surely handles them. (A shell
# starts a command in the background with SIGINT ignored: env gives it the default back.)
# An ignored signal stays ignored (nohup): that command runs on and converts what it read.
mkfifo "$work/slow"
for signal in INT:130 TERM:143 HUP:129 INT+INT:130 ignored-HUP:0; do
  name="${signal%%:*}"
  want="${signal##*:}"
  echo old >"$work/target"
  (printf '<TRADOStag><Body>'; sleep 3) >"$work/slow" &
  writer=$!
  if [ "$name" = ignored-HUP ]; then
    name=HUP
    (trap '' HUP && exec "$tagvert" to-if "$work/slow" -o "$work/target" --quiet 2>"$work/err") &
  else
    env --default-signal=INT,TERM,HUP "$tagvert" to-if "$work/slow" -o "$work/target" 2>"$work/err" &
  fi
  pid=$!
  until ls -A "$work" | grep -q '^\.target\.tagvert-' || ! kill -0 $pid 2>/dev/null; do sleep 0.01; done
  for one in $(echo "$name" | tr + ' '); do kill -s "$one" $pid; done
  # The ignored signal is pending when the input ends: a handled one would still stop it.
  [ "$want" -eq 0 ] && kill $writer
  wait $pid
  status=$?
  [ $status -eq "$want" ] || fail "SIG$name: status $status, expected $want"
  if [ "$want" -eq 0 ]; then
    [ "$(cat "$work/target")" != old ] || fail "SIG$name ignored: no output"
  else
    [ "$(cat "$work/target")" = old ] || fail "SIG$name: the old output changed"
  fi
  no_temp "SIG$name"
  kill $writer 2>/dev/null
  wait $writer 2>/dev/null
done

# The XLIFF commands stop as to-if does, alone or in a batch: the conversion reading a pipe kept
# open is stopped once its temporary output exists, which goes; a file done before keeps its output.
# to-xliff opens its output once the format test has seen the root: the pipe gives it first.
"$tagvert" to-xliff "$work/doc.ttx" -o "$work/doc.xlf" --quiet || fail "doc.xlf"
mkfifo "$work/slow.xlf"
for run in "to-xliff $work/slow --direction fr-fr:the conversion of '$work/slow' was stopped; no output file was written." \
  "from-xliff -j 1 $work/doc.xlf $work/slow.xlf:the batch was stopped; no partial output file was left."; do
  rm -rf "$work/xo"
  exec 3<>"$([ "${run%% *}" = to-xliff ] && echo "$work/slow" || echo "$work/slow.xlf")"
  printf '<?xml version="1.0"?>\n%s<' "$([ "${run%% *}" = to-xliff ] && echo '<TRADOStag>')" >&3
  env --default-signal=TERM "$tagvert" ${run%%:*} -O "$work/xo" 2>"$work/err" 3>&- &
  pid=$!
  while kill -0 $pid 2>/dev/null && ! ls -A "$work/xo" 2>/dev/null | grep -q 'slow.*tagvert-'; do :; done
  kill -s TERM $pid
  wait $pid
  status=$?
  exec 3>&-
  [ $status -eq 143 ] || fail "${run%% *} stopped: status $status"
  contains "$work/err" "tagvert: ${run#*:}"
  no_temp "${run%% *} stopped"
done
[ -f "$work/xo/doc.out.ttx" ] || fail "from-xliff stopped: the file done before lost its output"

# from-xliff on a full disk: the merge's warnings (the TTX written beside the merge), then the
# failure; the old output untouched.
printf '<TRADOStag><FrontMatter><UserSettings TargetLanguage="DE-DE"/></FrontMatter><Body><Tu MatchPercent="0"><Tuv Lang="EN-US">a <df Bold="on">b</df></Tuv><Tuv Lang="DE-DE">a <df Bold="on">b</df></Tuv></Tu></Body></TRADOStag>' >"$work/tags.ttx"
"$tagvert" to-xliff "$work/tags.ttx" -o "$work/tags.xlf" --quiet || fail "tags.xlf"
sed 's#</source>#</source><target>ab</target>#' "$work/tags.xlf" >"$work/damaged.xlf"
echo old >"$work/target"
faulty TAGVERT_FAULT_FILE=target.tagvert- TAGVERT_FAULT_WRITE=1 "$tagvert" from-xliff "$work/damaged.xlf" -o "$work/target"
[ $status -eq 1 ] || fail "from-xliff on a full disk: status $status"
contains "$work/err" "unit 1: code <bpt id=\"1\"> (<df Bold=\"on\">) is missing."
[ "$(cat "$work/target")" = old ] || fail "from-xliff on a full disk: the old output changed"

# A reader of standard output that goes away: status 141 (SIGPIPE), as for any filter.
awk 'BEGIN { print "<TRADOStag><Body>"; for (i = 0; i < 200000; i++) print "<b>text</b>"; print "</Body></TRADOStag>" }' >"$work/long.ttx"
{ env --default-signal=PIPE "$tagvert" to-if "$work/long.ttx" -o - 2>/dev/null; echo $? >"$work/status"; } | head -c 10 >/dev/null
[ "$(cat "$work/status")" -eq 141 ] || fail "a closed standard output gave status $(cat "$work/status")"

[ "$failures" -eq 0 ] && echo "fault tests passed"
exit "$failures"
