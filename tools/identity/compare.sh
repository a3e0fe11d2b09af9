#!/bin/bash
# Byte identity of the command before and after a change: runs each named command on every file
# of the corpus (tools/identity/make_corpus.py) with BASELINE and NEW and compares stdout,
# stderr (timings blanked), exit status and written files.
# Usage: tools/identity/compare.sh BASELINE NEW CORPUS COMMAND...
#   COMMAND: show showcodes stats statsjson pseudo fromif check toif toxliff toxliff2 fromxliff
# Prints "DIFF: command file" for each difference and "identical N different M".
# SPDX-License-Identifier: Apache-2.0
base=$1 new=$2 c=$3; shift 3
work=$(mktemp -d)
same=0; diff=0
run() { # run TAG BIN args...
  local tag=$1 bin=$2; shift 2
  ( cd $work/$tag && "$bin" "$@" >out 2>err; echo $? >status; sed -i -E 's/ in [0-9.]+ (ms|s|µs)/ in T/g' err ) 
}
for f in $c/*; do
  for cmd in "$@"; do
    case "$cmd" in
      show) args=(show "$f");; showcodes) args=(show --codes "$f");;
      stats) args=(stats "$f");; statsjson) args=(stats --json "$f");;
      pseudo) [[ $f == *.ttx ]] || continue; args=(pseudo "$f" -O .);;
      fromif) [[ $f == *.if ]] || continue; args=(from-if "$f" -o out.ttx -f);;
      check) [[ $f == *.ttx ]] || continue; args=(check "$f");;
      toif) [[ $f == *.ttx ]] || continue; args=(to-if "$f" -o out.if -f);;
      toxliff) [[ $f == *.ttx ]] || continue; args=(to-xliff "$f" -o out.xlf -f);;
      toxliff2) [[ $f == *.ttx ]] || continue; args=(to-xliff "$f" --xliff 2.0 -o out.xlf -f);;
      fromxliff) [[ $f == *.xlf ]] || continue; args=(from-xliff "$f" -o out.ttx);;
    esac
    rm -rf $work/a $work/b; mkdir -p $work/a $work/b
    run a $base "${args[@]}"; run b $new "${args[@]}"
    if diff -r $work/a $work/b >/dev/null; then same=$((same+1)); else diff=$((diff+1)); echo "DIFF: $cmd $f"; fi
  done
done
echo "identical $same different $diff"
rm -rf $work
