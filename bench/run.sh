#!/bin/sh
# Tagvert: runs the conversion benchmark on generated 5 MB and 50 MB TTX documents.
# Usage: bench/run.sh [BUILD_DIR]   (default build/release)
set -eu
build="${1:-build/release}"
bench="$build/bench/tagvert_bench"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
for mb in 5 50; do
  "$bench" generate "$mb" "$work/doc$mb.ttx"
  "$bench" to-if "$work/doc$mb.ttx"
  "$bench" from-if "$work/doc$mb.ttx.if"
done
