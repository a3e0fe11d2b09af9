# Tagvert tests: sourced by the client tests. Puts the test in the run's Wine prefix (the one the
# wine fixture recorded in TAGVERT_WINE_STATE) or, run alone, in a fresh prefix removed at exit.
export WINEDEBUG=-all
if [ -n "${TAGVERT_WINE_STATE:-}" ] && [ -s "$TAGVERT_WINE_STATE" ]; then
  WINEPREFIX="$(cat "$TAGVERT_WINE_STATE")"
else
  WINEPREFIX="$(mktemp -d "${TMPDIR:-/tmp}/tagvert-wine.XXXXXX")"
  trap 'wineserver -k >/dev/null 2>&1 || true; rm -rf "$WINEPREFIX"' EXIT
fi
export WINEPREFIX

# The Windows name of a file (Wine's drive Z: is the root of the file system).
winpath() {
  printf 'Z:%s' "$1" | tr / '\\'
}

# The identifier in the uuid(...) attribute just before the line matching $2 in the IDL file $1.
idl_uuid() {
  awk -v pattern="$2" '/uuid\(/ { id = $0 } $0 ~ pattern { print id; exit }' "$1" |
    sed 's/.*uuid(\([^)]*\)).*/{\1}/'
}

fail() {
  echo "FAILED: $*" >&2
  exit 1
}
