#!/bin/sh
# Line and branch coverage of src/ by the native test suite (gcc --coverage, gcovr).
# Usage: tools/coverage.sh [BUILD_DIR]   (default build/coverage; installs gcovr when missing)
# Prints gcovr's summary; the per-file table is in BUILD_DIR/coverage.txt. The install and
# package tests are left out: they link the installed library into programs of their own.
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
ctest --test-dir "$build" -E "bench|package" >/dev/null || { echo "the suite failed; coverage not measured" >&2; exit 1; }
# Branches of exception paths the compiler adds are left out; generated tables too. gcov can
# print a negative branch count for code that threads run at once: gcovr then skips that line.
gcovr --root . --filter 'src/' --exclude '.*_tab\.h' --exclude-throw-branches \
  --exclude-unreachable-branches --gcov-ignore-parse-errors --txt "$build/coverage.txt" --print-summary "$build" | tail -3
