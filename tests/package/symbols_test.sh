#!/bin/sh
# Tagvert: a shared library exports the public API and nothing else of the project: every
# exported symbol that names a tagvert type or function belongs to a class or function of
# include/tagvert/.
# Usage: symbols_test.sh LIBRARY
set -u
library="$1"
public='tagvert::(CConverter|CVariant|CHResultError|IByteStream|ITransEventsListener|CEndpoint|GetVersion|ConvertToXliff|ConvertFromXliff)\b'
exported="$(nm -DC --defined-only "$library" | cut -d' ' -f3- | grep 'tagvert::')"
echo "$exported" | grep -qE "^tagvert::CConverter::ConvertToIF" ||
  { echo "FAIL: CConverter::ConvertToIF is not exported" >&2; exit 1; }
stray="$(echo "$exported" | grep -vE "^((typeinfo|typeinfo name|vtable) for )?$public")"
if [ -n "$stray" ]; then
  echo "FAIL: exported symbols outside the public API:" >&2
  echo "$stray" | head -40 >&2
  exit 1
fi
echo "$(echo "$exported" | wc -l) exported symbols, all of the public API"
