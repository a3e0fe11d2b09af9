#!/bin/sh
# Tagvert: set up a Debian 12 machine, then run the demo or all the tests.
#   demo: installs the compiler and build tools, builds only the tagvert command and converts
#         examples/sample.ttx to IF and back;
#   test: installs what the tests need as well, builds everything and runs all the tests.
# Usage: tools/quickstart.sh demo | test
# SPDX-License-Identifier: Apache-2.0
set -eu

cd "$(dirname "$0")/.."
what="${1:-}"
case "$what" in
  demo) packages="cmake ninja-build g++" ;;
  # The tests also build the GoogleTest suites (the frame's compare with expat), compile a
  # consumer against the installed tree with pkg-config, judge the .debs with lintian and unpack
  # them, check the man page and the bash completion; the command's tests check
  # pseudo-translated documents with xmllint and run the batch lines of docs/batches.md with GNU
  # parallel.
  test) packages="cmake ninja-build g++ libgtest-dev libexpat1-dev pkgconf groff-base libxml2-utils lintian parallel" ;;
  *) echo "usage: tools/quickstart.sh demo|test" >&2; exit 2 ;;
esac

missing=""
for p in $packages; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
  echo "== installing:$missing"
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  n=0
  until $sudo apt-get update; do
    n=$((n + 1))
    [ "$n" -ge 5 ] && { echo "apt-get update failed" >&2; exit 1; }
    sleep $((n * 5))
  done
  # shellcheck disable=SC2086
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends $missing
fi

if [ "$what" = test ]; then
  echo "== configuring and building (preset release)"
  cmake --preset release >/dev/null
  cmake --build --preset release
  echo "== running the tests"
  ctest --preset release
  exit 0
fi

echo "== configuring and building the command (preset dist, target tagvert)"
cmake --preset dist >/dev/null
cmake --build --preset dist --target tagvert
tagvert=build/dist/tagvert

out=build/demo
mkdir -p "$out"
echo "== tagvert detect examples/sample.ttx"
$tagvert detect examples/sample.ttx
echo "== tagvert to-if examples/sample.ttx -o $out/sample.ttx.if --direction de-de --events"
$tagvert to-if examples/sample.ttx -o "$out/sample.ttx.if" --direction de-de --events
echo "== tagvert show $out/sample.ttx.if (the text the kernel translates, each tag as {#PAIR: markup}):"
$tagvert show "$out/sample.ttx.if"
echo "== tagvert from-if $out/sample.ttx.if (writes $out/sample.out.ttx)"
$tagvert from-if "$out/sample.ttx.if"
echo "== the TTX written back:"
cat "$out/sample.out.ttx"
echo
