#!/bin/sh
# Tagvert: installs the build into a scratch prefix, moves the tree elsewhere, and builds and runs
# the consumer project of examples/consumer against it, once through find_package(Tagvert)
# and once through pkg-config (the compile line of docs/library.md). Its library example
# must be that project's source, word for word. The consumer's IF and TTX must equal the
# installed command's.
# Usage: consumer_test.sh BUILD_DIR SOURCE_DIR CXX SAMPLE_TTX
set -u
build="$1"
source="$2"
cxx="$3"
sample="$4"
. "$(dirname "$0")/../cli/test_lib.sh"

# docs/library.md shows the consumer's files: the fenced block after the line naming each file.
readme_block() {
  awk -v name="$1" 'index($0, name) && !seen { seen = 1; next }
    seen == 1 && /^```/ { if (inside) exit; inside = 1; next }
    inside { print }' "$source/docs/library.md"
}
for file in main.cpp CMakeLists.txt; do
  readme_block "examples/consumer/$file" >"$work/readme.$file"
  cmp -s "$work/readme.$file" "$source/examples/consumer/$file" ||
    fail "docs/library.md's examples/consumer/$file differs from the file: $(diff "$source/examples/consumer/$file" "$work/readme.$file")"
done
pkg_line="$(readme_block "or with pkg-config" | grep '^c++ ')"
[ -n "$pkg_line" ] || fail "docs/library.md shows no pkg-config compile line"

# Install, then move the tree: both packages must find their files from where they are.
cmake --install "$build" --prefix "$work/stage" >"$work/install.log" 2>&1 ||
  { cat "$work/install.log" >&2; fail "cmake --install failed"; exit 1; }
mv "$work/stage" "$work/prefix"
prefix="$work/prefix"
(cd "$prefix" && find . -type f -o -type l | sort) >"$work/tree"
for want in bin/tagvert include/tagvert/tagvert.h include/tagvert/converter.h include/tagvert/xliff.h \
  include/tagvert/version.h include/tagvert/export.h cmake/Tagvert/TagvertConfig.cmake \
  cmake/Tagvert/TagvertConfigVersion.cmake pkgconfig/tagvert.pc \
  share/bash-completion/completions/tagvert; do
  grep -q "/$want\$" "$work/tree" || fail "the installed tree lacks $want"
done
# The man page is installed compressed when gzip is found.
grep -qE '/share/man/man1/tagvert\.1(\.gz)?$' "$work/tree" || fail "the installed tree lacks the man page"
grep -qE '/libtagvert\.(a|so)$' "$work/tree" || fail "the installed tree lacks the library"
# Only the public headers are installed.
stray="$(grep '^\./include/' "$work/tree" | grep -v '^\./include/tagvert/[a-z_]*\.h$')"
[ -z "$stray" ] || fail "headers outside include/tagvert/ are installed: $stray"
libdir="$(dirname "$(grep -E '/libtagvert\.(a|so)$' "$work/tree" | head -1)")"
libdir="$prefix/${libdir#./}"

version="$("$prefix/bin/tagvert" --version | awk '{ print $2 }')"
mkdir -p "$work/ref"
cp "$sample" "$work/ref/doc.ttx"
"$prefix/bin/tagvert" to-if "$work/ref/doc.ttx" --direction de-de --quiet
"$prefix/bin/tagvert" from-if "$work/ref/doc.ttx.if" --quiet
"$prefix/bin/tagvert" to-xliff "$work/ref/doc.ttx" --direction de-de --quiet

# run_consumer NAME PROGRAM: runs PROGRAM in a folder of its own on the sample and compares.
run_consumer() {
  mkdir -p "$work/run-$1"
  cp "$sample" "$work/run-$1/doc.ttx"
  (cd "$work/run-$1" && LD_LIBRARY_PATH="$libdir" "$2") >"$work/run-$1.out" 2>&1 ||
    fail "$1: the consumer failed: $(cat "$work/run-$1.out")"
  grep -qx "tagvert $version" "$work/run-$1.out" || fail "$1: the library's version is not $version"
  grep -qx "result 0x00000000" "$work/run-$1.out" || fail "$1: the conversion failed"
  grep -qx "progress 100%" "$work/run-$1.out" || fail "$1: no progress events"
  cmp -s "$work/run-$1/doc.ttx.if" "$work/ref/doc.ttx.if" || fail "$1: the IF differs from the command's"
  cmp -s "$work/run-$1/doc.out.ttx" "$work/ref/doc.out.ttx" || fail "$1: the TTX differs from the command's"
  cmp -s "$work/run-$1/doc.ttx.xlf" "$work/ref/doc.ttx.xlf" || fail "$1: the XLIFF differs from the command's"
}

# Through the CMake package.
unset CMAKE_PREFIX_PATH PKG_CONFIG_PATH
if cmake -S "$source/examples/consumer" -B "$work/cmake-build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_PREFIX_PATH="$prefix" >"$work/cmake.log" 2>&1 &&
  cmake --build "$work/cmake-build" >>"$work/cmake.log" 2>&1; then
  grep -q "Tagvert $version found" "$work/cmake.log" ||
    fail "find_package(Tagvert) does not give version $version: $(cat "$work/cmake.log")"
  run_consumer cmake "$work/cmake-build/consumer"
else
  fail "the consumer does not build with find_package: $(cat "$work/cmake.log")"
fi

# Through pkg-config, with the compile line of docs/library.md.
if command -v pkg-config >/dev/null; then
  export PKG_CONFIG_PATH="$libdir/pkgconfig"
  [ "$(pkg-config --modversion tagvert)" = "$version" ] || fail "pkg-config gives another version"
  mkdir -p "$work/pc-build"
  cp "$source/examples/consumer/main.cpp" "$work/pc-build/"
  if (cd "$work/pc-build" && sh -c "$pkg_line") >"$work/pc.log" 2>&1; then
    run_consumer pkg-config "$work/pc-build/consumer"
  else
    fail "the consumer does not build with pkg-config ($pkg_line): $(cat "$work/pc.log")"
  fi
else
  echo "pkg-config is not installed: the pkg-config build was not tried" >&2
  [ "$failures" -eq 0 ] && exit 77
fi

[ "$failures" -eq 0 ] || exit 1
echo "the installed tree builds and runs the consumer through find_package and pkg-config"
