#!/bin/sh
# Tagvert: builds the Debian packages with CPack, judges them with lintian, unpacks them into a
# scratch root (dpkg -x) and runs the command from there. A shared build gives the command,
# the shared library and the development files as three packages; a static build the command
# and the development files (with the static library).
# Usage: deb_test.sh BUILD_DIR SAMPLE_TTX
set -u
build="$1"
sample="$2"
. "$(dirname "$0")/../cli/test_lib.sh"

version="$("$build/tagvert" --version | awk '{ print $2 }')"
(cd "$build" && cpack -G DEB -B "$work/pkg") >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log" >&2; fail "cpack failed"; exit 1; }
expected="libtagvert-dev tagvert"
shared=no
grep -q '^BUILD_SHARED_LIBS:BOOL=ON' "$build/CMakeCache.txt" && shared=yes
[ "$shared" = yes ] && expected="libtagvert-dev libtagvert${version%%.*} tagvert"
names="$(for deb in "$work"/pkg/*.deb; do dpkg-deb -f "$deb" Package; done | sort | xargs)"
[ "$names" = "$expected" ] || { fail "cpack made the packages '$names', not '$expected'"; exit 1; }
for deb in "$work"/pkg/*.deb; do
  echo "package: $(basename "$deb"), $(wc -c <"$deb") bytes"
  [ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "$(basename "$deb")'s version is not $version"
done

# lintian, Debian's own judge of packages: no error (its warnings are listed in the log).
if command -v lintian >/dev/null; then
  lintian --fail-on error --tag-display-limit 0 "$work"/pkg/*.deb >"$work/lintian.log" 2>&1 ||
    fail "lintian reports errors: $(grep '^E:' "$work/lintian.log")"
  grep -E '^[EW]:' "$work/lintian.log"
else
  fail "lintian is not installed (Debian package lintian)"
fi

root="$work/root"
for deb in "$work"/pkg/*.deb; do dpkg -x "$deb" "$root" || fail "dpkg -x $deb failed"; done
[ "$("$root/usr/bin/tagvert" --version)" = "tagvert $version" ] ||
  fail "the unpacked tagvert does not print its version"
gzip -dc "$root/usr/share/man/man1/tagvert.1.gz" | grep -q "\"tagvert $version\"" ||
  fail "the packaged man page is not a compressed page of version $version"

# The unpacked command converts as the built one does.
cp "$sample" "$work/a.ttx"
"$root/usr/bin/tagvert" to-if "$work/a.ttx" -o "$work/unpacked.if" --quiet ||
  fail "the unpacked tagvert cannot convert"
"$build/tagvert" to-if "$work/a.ttx" -o "$work/built.if" --quiet
cmp -s "$work/unpacked.if" "$work/built.if" || fail "the unpacked tagvert writes other IF"

# The library lives in the multiarch folder, and pkg-config finds the headers from there.
multiarch="$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null || gcc -print-multiarch)"
pc="$root/usr/lib/$multiarch/pkgconfig/tagvert.pc"
[ -f "$pc" ] || fail "tagvert.pc is not in usr/lib/$multiarch/pkgconfig"
if command -v pkg-config >/dev/null && [ -f "$pc" ]; then
  includedir="$(PKG_CONFIG_PATH="$(dirname "$pc")" pkg-config --variable=includedir tagvert)"
  [ -f "$includedir/tagvert/converter.h" ] || fail "pkg-config's includedir $includedir is wrong"
fi

[ "$failures" -eq 0 ] || exit 1
echo "the packages pass lintian, unpack and run"
