#!/bin/sh
# Tagvert: the format check over every C++ file, and clang-tidy (.clang-tidy) over the files
# listed below. Usage: tools/lint.sh BUILD_DIR, where BUILD_DIR has a compile_commands.json of a
# native build with tests. Exits non-zero on the first finding.
set -eu
cd "$(dirname "$0")/.."
build=${1:?usage: tools/lint.sh BUILD_DIR}

echo "== clang-format --dry-run --Werror over every C++ file"
git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror

# The files under clang-tidy: the command, the registrar, the frame's values and events, the
# storage's character and code-page units and their tests. The converter's engine (markup,
# rules, structure, ifcodec, data_storage, ttx_converter, converter_base) joins when its rewrite
# has landed; the COM server's files build only with the Windows headers.
files="src/cli/*.cpp src/com/registrar/registrar_script.cpp
  src/frame/converter.cpp src/frame/trans_events.cpp src/frame/variant.cpp src/frame/version.cpp
  src/storage/char_class.cpp src/storage/code_page_codec.cpp src/storage/code_page_tables.cpp
  src/storage/language_table.cpp src/storage/memory_stream.cpp
  tests/api/*.cpp tests/cli/*_test.cpp tests/com/registrar/*.cpp tests/support/*.cpp
  tests/frame/converter_test.cpp tests/frame/identity_test.cpp tests/frame/round_trip_test.cpp
  tests/frame/stage_test.cpp"
echo "== clang-tidy over the command, registrar, frame values and storage units"
# shellcheck disable=SC2086
ls $files | xargs -P 2 -n 4 clang-tidy -p "$build" --quiet
echo "lint passed"
