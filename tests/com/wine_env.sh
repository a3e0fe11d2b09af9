#!/bin/sh
# Tagvert: runs the Windows tests under Wine with one private Wine prefix per test run.
#   wine_env.sh start STATE   creates a fresh prefix in a temporary folder, starts a persistent
#                             wineserver for it (wineserver -p) and records the folder in STATE
#   wine_env.sh run PROG ...  runs PROG under wine in the recorded prefix (the CTest emulator)
#   wine_env.sh stop STATE    stops that wineserver and removes the folder
# STATE defaults to $TAGVERT_WINE_STATE. Without a started prefix, `run` makes a throw-away one.
set -eu
export WINEDEBUG=-all
what="$1"
shift
case "$what" in
  start)
    state="${1:-$TAGVERT_WINE_STATE}"
    prefix="$(mktemp -d "${TMPDIR:-/tmp}/tagvert-wine.XXXXXX")"
    export WINEPREFIX="$prefix"
    # The server and the prefix's own services outlive this script: none of them may keep the
    # caller's output open (CTest waits for it to close).
    wineserver -p </dev/null >/dev/null 2>&1
    # The first start of a fresh prefix creates it; do it once here, not inside a test.
    wine cmd /c exit 0 </dev/null >/dev/null 2>&1 || true
    printf '%s\n' "$prefix" >"$state"
    ;;
  run)
    state="${TAGVERT_WINE_STATE:-}"
    if [ -n "$state" ] && [ -s "$state" ]; then
      export WINEPREFIX="$(cat "$state")"
      exec wine "$@"
    fi
    prefix="$(mktemp -d "${TMPDIR:-/tmp}/tagvert-wine.XXXXXX")"
    export WINEPREFIX="$prefix"
    rc=0
    wine "$@" || rc=$?
    wineserver -k >/dev/null 2>&1 || true
    rm -rf "$prefix"
    exit "$rc"
    ;;
  stop)
    state="${1:-$TAGVERT_WINE_STATE}"
    if [ -s "$state" ]; then
      prefix="$(cat "$state")"
      WINEPREFIX="$prefix" wineserver -k >/dev/null 2>&1 || true
      case "$prefix" in
        */tagvert-wine.*) rm -rf "$prefix" ;;
      esac
      rm -f "$state"
    fi
    ;;
  *)
    echo "usage: wine_env.sh start|run|stop ..." >&2
    exit 2
    ;;
esac
