# Tagvert: helpers shared by the shell tests: a scratch folder $work (made here and removed at
# exit, unless the test set one), a failure counter, expect, contains, says and no_temp.
# SPDX-License-Identifier: Apache-2.0
if [ -z "${work:-}" ]; then
  work="$(mktemp -d)"
  trap 'rm -rf "$work"' EXIT
fi
failures=0

# fail MESSAGE: reports a failure and counts it; the test goes on.
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# expect STATUS CMD...: runs CMD, checks its exit status; stdout in $work/out, stderr in $work/err.
expect() {
  want="$1"
  shift
  "$@" >"$work/out" 2>"$work/err"
  got=$?
  [ "$got" -eq "$want" ] || fail "'$*' exited $got, expected $want: $(cat "$work/err")"
}

# contains FILE TEXT: FILE holds TEXT (as it is, not as a pattern).
contains() {
  grep -qF -- "$2" "$1" || fail "$1 lacks '$2': $(cat "$1")"
}

# says STATUS TEXT CMD...: expect STATUS CMD..., and its standard error holds TEXT.
says() {
  said_status=$1 said_text=$2
  shift 2
  expect "$said_status" "$@"
  contains "$work/err" "$said_text"
}

# no_temp WHAT: no temporary output file is left anywhere below the work folder.
no_temp() {
  find "$work" -name '*tagvert-*' | grep -q . && fail "$1: a temporary file was left behind"
}
