#!/bin/sh
# Tagvert: runs the Windows tests under Wine with one private Wine prefix per test run.
#   wine_env.sh start STATE   creates a fresh prefix in a temporary folder, starts a persistent
#                             wineserver for it (wineserver -p) and records the folder in STATE
#   wine_env.sh run PROG ...  runs PROG under wine in the recorded prefix (the CTest emulator);
#                             without a started prefix, in a throw-away one
#   wine_env.sh stop STATE    stops that wineserver and removes the folder
set -eu
export WINEDEBUG=-all
what="$1"
shift
state="${1:-${TAGVERT_WINE_STATE:-}}"
case "$what" in
  start)
    WINEPREFIX="$(mktemp -d "${TMPDIR:-/tmp}/tagvert-wine.XXXXXX")"
    export WINEPREFIX
    # The server and the prefix's own services outlive this script: none of them may keep the
    # caller's output open (CTest waits for it to close). The first start creates the prefix.
    wineserver -p </dev/null >/dev/null 2>&1
    wine cmd /c exit 0 </dev/null >/dev/null 2>&1 || true
    printf '%s\n' "$WINEPREFIX" >"$state"
    ;;
  run)
    state="${TAGVERT_WINE_STATE:-}"
    if [ -n "$state" ] && [ -s "$state" ]; then
      WINEPREFIX="$(cat "$state")"
      export WINEPREFIX
      exec wine "$@"
    fi
    . "$(dirname "$0")/scripts/wine_prefix.sh"
    wine "$@"
    ;;
  stop)
    if [ -s "$state" ]; then
      WINEPREFIX="$(cat "$state")" wineserver -k >/dev/null 2>&1 || true
      case "$(cat "$state")" in */tagvert-wine.*) rm -rf "$(cat "$state")" ;; esac
      rm -f "$state"
    fi
    ;;
  *)
    echo "usage: wine_env.sh start|run|stop ..." >&2
    exit 2
    ;;
esac
