#!/bin/bash
# Tagvert: the man page and the bash completion against the command's own --help: the same
# commands, the same options (per command for the completion), the same language tags and the
# same version; completion of file names by extension; the page renders without warnings.
# Usage: docs_test.sh TAGVERT MAN_PAGE COMPLETION
set -u
tagvert="$1"
page="$2"
completion="$3"
. "$(dirname "$0")/../cli/test_lib.sh"

# same WHAT EXPECTED GOT: compares two word lists as sets.
same() {
  local want got
  want="$(printf '%s\n' $2 | sort -u | tr '\n' ' ')"
  got="$(printf '%s\n' $3 | sort -u | tr '\n' ' ')"
  [ "$want" = "$got" ] || fail "$1: expected [$want], got [$got]"
}

# The options of a help text: the words starting with - in the option column of the lines
# that start with "  -" (the description begins after three spaces).
help_options() {
  sed -n 's/^  \(-.*\)$/\1/p' | sed 's/   .*//' | grep -oE -- '--?[a-zA-Z][a-zA-Z-]*'
}

# The lines of one section of the page, from ".SH NAME" to the next ".SH".
man_section() {
  awk -v name="$1" '/^\.SH/ { on = ($0 == ".SH " name || $0 == ".SH \"" name "\"") ; next } on' \
    "$page"
}

# --- the commands ---
help_commands="$("$tagvert" --help | sed -n '/^Commands:/,/^$/p' | awk 'NF > 1 { print $1 }')"
[ -n "$help_commands" ] || fail "tagvert --help lists no commands"
man_commands="$(man_section COMMANDS | awk 'prev == ".TP" { print $2 } { prev = $0 }')"
same "commands of the man page" "$help_commands" "$man_commands"

# --- the options: every option of every help text is on the page, and nothing else ---
all_options="$("$tagvert" --help | help_options)"
for command in $help_commands; do
  options="$("$tagvert" "$command" --help | help_options)"
  [ "$command" = info ] || [ "$command" = detect ] || [ -n "$options" ] ||
    fail "tagvert $command --help lists no options"
  all_options="$all_options $options"
done
man_options="$(man_section OPTIONS | awk 'prev == ".TP" { print } { prev = $0 }' |
  sed 's/\\-/-/g' | grep -oE -- '--?[a-zA-Z][a-zA-Z-]*')"
same "options of the man page" "$all_options" "$man_options"

# --- the language tags ---
help_tags="$("$tagvert" to-if --help | sed -n '/^Language tags/,$p' | tail -n +2 | tr ',' ' ')"
[ "$(echo $help_tags | wc -w)" -ge 10 ] || fail "to-if --help lists too few language tags"
man_tags="$(man_section "LANGUAGE TAGS" | sed -n '/^\.RS/,/^\.RE/p' | grep -v '^\.' | tr ',' ' ')"
same "language tags of the man page" "$help_tags" "$man_tags"

# --- the version ---
version="$("$tagvert" --version | awk '{ print $2 }')"
grep -q "^\.TH TAGVERT 1 \"[^\"]*\" \"tagvert $version\"" "$page" ||
  fail "the page's title line does not carry version $version"

# --- the completion ---
# shellcheck source=/dev/null
. "$completion"
# complete LINE: the words the completion offers for LINE (the last word is completed).
complete_line() {
  read -r -a COMP_WORDS <<<"$1"
  [[ $1 == *" " ]] && COMP_WORDS+=("")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  _tagvert
  printf '%s\n' "${COMPREPLY[@]}"
}

same "completion of commands" "$help_commands" "$(complete_line 'tagvert ')"
# Every command takes --help besides the options its help text lists.
for command in $help_commands; do
  same "completion of $command's options" "-h --help $("$tagvert" "$command" --help | help_options)" \
    "$(complete_line "tagvert $command -")"
done
same "completion of --direction" "$help_tags" "$(complete_line 'tagvert to-if a.ttx --direction ')"
same "completion of --direction=" "$help_tags" "$(complete_line 'tagvert to-if --direction = ')"

mkdir -p "$work/files/sub"
: >"$work/files/a.ttx"
: >"$work/files/B.TTX"
: >"$work/files/a.ttx.if"
: >"$work/files/notes.txt"
cd "$work/files" || exit 1
# command line | expected words
while IFS='|' read -r line expected; do
  same "completion of '$line'" "$expected" "$(complete_line "$line")"
done <<'TABLE'
tagvert to-if |a.ttx B.TTX sub
tagvert detect a.ttx |a.ttx B.TTX sub
tagvert from-if |a.ttx.if sub
tagvert to-if a.ttx -o |a.ttx B.TTX a.ttx.if notes.txt sub
tagvert to-if a|a.ttx
tagvert info |
tagvert t|to-if to-xliff
tagvert to-if a.ttx --direction D|
tagvert to-if a.ttx --direction d|de-de
TABLE
cd - >/dev/null || exit 1

# --- the page renders without warnings (when groff is installed) ---
if command -v groff >/dev/null; then
  warnings="$(groff -man -Tutf8 -ww -z "$page" 2>&1)"
  [ -z "$warnings" ] || fail "groff warns about the page: $warnings"
fi

[ "$failures" -eq 0 ] || exit 1
echo "man page and completion agree with --help"
