# Tagvert: helpers shared by the command's shell tests. Source it after setting $work.
# SPDX-License-Identifier: Apache-2.0
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

# contains FILE TEXT: FILE holds TEXT.
contains() {
  grep -q -- "$2" "$1" || fail "$1 lacks '$2': $(cat "$1")"
}
