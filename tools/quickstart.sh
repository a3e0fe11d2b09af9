#!/bin/sh
# Tagvert: set up a Debian 12 machine, build, and run either the demo or all the tests.
# Usage: tools/quickstart.sh demo | test
# SPDX-License-Identifier: Apache-2.0
set -eu

cd "$(dirname "$0")/.."
what="${1:-}"
case "$what" in
  demo|test) ;;
  *) echo "usage: tools/quickstart.sh demo|test" >&2; exit 2 ;;
esac

packages="cmake ninja-build g++ clang libgtest-dev libgmock-dev googletest libexpat1-dev"
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

echo "== configuring and building (preset release)"
cmake --preset release >/dev/null
cmake --build --preset release

if [ "$what" = test ]; then
  echo "== running the tests"
  ctest --preset release
  exit 0
fi

out=build/demo
mkdir -p "$out"
echo "== tagvert detect examples/sample.ttx"
build/release/tagvert detect examples/sample.ttx
echo "== tagvert to-if examples/sample.ttx -o $out/sample.ttx.if --direction de-de --events"
build/release/tagvert to-if examples/sample.ttx -o "$out/sample.ttx.if" --direction de-de --events
echo "== the IF, with its codes shown as <XXXX>:"
python3 - "$out/sample.ttx.if" 2>/dev/null <<'PY' || od -c "$out/sample.ttx.if" | head -20
import sys
text = open(sys.argv[1], "rb").read().decode("utf-16-le")
out, after_group = [], False
for c in text:
    code = 0xE000 <= ord(c) <= 0xEFFF or (ord(c) < 0x20 and c not in "\r\n")
    # The unit after U+E805 is the tag's pair id.
    out.append("<%04X>" % ord(c) if code or after_group else c)
    after_group = ord(c) == 0xE805
print("".join(out))
PY
echo "== tagvert from-if $out/sample.ttx.if (writes $out/sample.out.ttx)"
build/release/tagvert from-if "$out/sample.ttx.if"
echo "== the TTX written back:"
cat "$out/sample.out.ttx"
echo
