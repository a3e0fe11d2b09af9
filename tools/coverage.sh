#!/bin/sh
# Line and branch coverage of src/ by the native test suite (gcc --coverage, gcovr).
# Usage: tools/coverage.sh [BUILD_DIR]   (default build/coverage; installs gcovr when missing)
# Prints gcovr's summary; the per-file table is in BUILD_DIR/coverage.txt.
set -eu
cd "$(dirname "$0")/.."
build="${1:-build/coverage}"
if ! command -v gcovr >/dev/null; then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update >/dev/null && DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends gcovr >/dev/null
fi
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTAGVERT_BUILD_TESTS=ON \
  -DCMAKE_CXX_FLAGS="--coverage -O0" -DCMAKE_EXE_LINKER_FLAGS=--coverage \
  -DCMAKE_SHARED_LINKER_FLAGS=--coverage >/dev/null
cmake --build "$build"
find "$build" -name '*.gcda' -delete
# An outside project cannot link the instrumented library (package_consumer): left out.
ctest --test-dir "$build" -E "bench|package_consumer" >/dev/null || { echo "the suite failed; coverage not measured" >&2; exit 1; }
# Branches of exception paths the compiler adds are left out; generated tables too. Counters
# that threads update at once may come out negative: gcov's lines with such counts are skipped.
gcovr --root . --filter 'src/' --exclude '.*_tab\.h' --exclude-throw-branches \
  --gcov-ignore-parse-errors --exclude-unreachable-branches --txt "$build/coverage.txt" --print-summary "$build" | tail -3
