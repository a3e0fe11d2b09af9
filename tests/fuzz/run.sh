#!/bin/sh
# Tagvert: runs one fuzz target of the `fuzz` preset for a while, one process, from seeds made of
# the test documents (and the real documents beside the repository, when present).
# Usage: tests/fuzz/run.sh TARGET SECONDS [extra libFuzzer options...]
#   TARGET: tag_reader, if_reader, transml, pipeline or xliff_reader
# The corpus grows in build/fuzz/corpus/TARGET; a failing input is saved in build/fuzz/findings.
set -eu
cd "$(dirname "$0")/../.."
target="$1"
seconds="$2"
shift 2
binary="build/fuzz/tests/fuzz/fuzz_$target"
corpus="build/fuzz/corpus/$target"
findings="build/fuzz/findings/$target"
mkdir -p "$corpus" "$findings"
samples="$(cd .. && pwd)/shared/samples"

seed() {
  for file in "$@"; do
    [ -f "$file" ] && cp "$file" "$corpus/seed-$(basename "$file")"
  done
  return 0
}
# Inputs stay short: the readers' faults show on a few kilobytes, and each unit of length costs
# every execution (the real documents, far longer, are cut to the limit as seeds).
case "$target" in
  tag_reader | if_reader) max_len=2048 ;;
  *) max_len=4096 ;;
esac
case "$target" in
  tag_reader | pipeline)
    seed tests/data/golden/*.ttx tests/data/roundtrip/*.ttx
    [ -d "$samples" ] && seed "$samples"/*/*.ttx
    ;;
  if_reader)
    seed tests/data/golden/*.if
    # The IF of every test document, made by the release build when it is there.
    if [ -x build/release/tagvert ]; then
      for ttx in tests/data/roundtrip/*.ttx; do
        build/release/tagvert to-if "$ttx" -o "$corpus/seed-$(basename "$ttx").if" --quiet || true
      done
    fi
    ;;
  transml)
    seed src/rules/ttx_rules.transml
    ;;
  xliff_reader)
    # The XLIFF of every test document in both versions, made by the release build.
    if [ -x build/release/tagvert ]; then
      for ttx in tests/data/roundtrip/*.ttx; do
        for v in 1.2 2.0; do
          build/release/tagvert to-xliff "$ttx" --xliff $v --copy-source --quiet \
            -o "$corpus/seed-$(basename "$ttx")-$v.xlf" || true
        done
        # Its skeleton's plan alone, behind the 'B' that sends it straight to the decoders.
        xlf="$corpus/seed-$(basename "$ttx")-1.2.xlf"
        [ -f "$xlf" ] && { printf B; sed -n '/tagvert-if-skeleton-/,/]]>/p' "$xlf" |
          tail -n +2 | sed 's/]]>.*//' | base64 -d 2>/dev/null; } >"$corpus/seed-$(basename "$ttx").plan"
        # Its IF, behind the 'W' that hands it to the XLIFF writer.
        { printf W; build/release/tagvert to-if "$ttx" -o - --quiet 2>/dev/null; } \
          >"$corpus/seed-$(basename "$ttx").wif" || true
      done
    fi
    ;;
  *)
    echo "unknown target '$target'" >&2
    exit 2
    ;;
esac

# A small quarantine: with the default 256 MB every allocation touches fresh pages, and the page
# faults took a third of the time; freed memory is still held back long enough to catch use after
# free within one execution. New blocks are not filled with a pattern (a memset of up to 4 KB per
# allocation). Leaks are still checked.
ASAN_OPTIONS="${ASAN_OPTIONS:-quarantine_size_mb=16:max_malloc_fill_size=0}"
export ASAN_OPTIONS
exec "$binary" "$corpus" -dict=tests/data/fuzz/tagvert.dict -max_total_time="$seconds" \
  -max_len=$max_len -timeout=30 -rss_limit_mb=4096 -artifact_prefix="$findings/" -print_final_stats=1 "$@"
