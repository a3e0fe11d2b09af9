#!/bin/sh
# Tagvert: builds the .deb with CPack, unpacks it into a scratch root (dpkg -x) and runs the
# command from there; checks the package's name and version, the command and the man page it
# carries, and that its pkg-config file is relocatable (the installed tree's files:
# consumer_test.sh, which installs what the package holds).
# Usage: deb_test.sh BUILD_DIR SAMPLE_TTX
set -u
build="$1"
sample="$2"
. "$(dirname "$0")/../cli/test_lib.sh"

version="$("$build/tagvert" --version | awk '{ print $2 }')"
(cd "$build" && cpack -G DEB -B "$work/pkg") >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log" >&2; fail "cpack failed"; exit 1; }
set -- "$work"/pkg/*.deb
[ $# -eq 1 ] && [ -f "$1" ] || { fail "cpack made no single .deb: $*"; exit 1; }
deb="$1"
echo "package: $(basename "$deb"), $(wc -c <"$deb") bytes"
[ "$(dpkg-deb -f "$deb" Package)" = tagvert ] || fail "the package is not named tagvert"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "the package's version is not $version"

root="$work/root"
dpkg -x "$deb" "$root" || { fail "dpkg -x failed"; exit 1; }
[ "$("$root/usr/bin/tagvert" --version)" = "tagvert $version" ] ||
  fail "the unpacked tagvert does not print its version"
grep -q "\"tagvert $version\"" "$root/usr/share/man/man1/tagvert.1" ||
  fail "the packaged man page does not carry version $version"

# The unpacked command converts as the built one does.
cp "$sample" "$work/a.ttx"
"$root/usr/bin/tagvert" to-if "$work/a.ttx" -o "$work/unpacked.if" --quiet ||
  fail "the unpacked tagvert cannot convert"
"$build/tagvert" to-if "$work/a.ttx" -o "$work/built.if" --quiet
cmp -s "$work/unpacked.if" "$work/built.if" || fail "the unpacked tagvert writes other IF"

# The pkg-config file finds the headers where the package was unpacked.
if command -v pkg-config >/dev/null; then
  pc="$(cd "$root" && find usr/lib* -name tagvert.pc | head -1)"
  includedir="$(PKG_CONFIG_PATH="$root/$(dirname "$pc")" pkg-config --variable=includedir tagvert)"
  [ -f "$includedir/tagvert/converter.h" ] || fail "pkg-config's includedir $includedir is wrong"
fi

[ "$failures" -eq 0 ] || exit 1
echo "the .deb unpacks and runs"
