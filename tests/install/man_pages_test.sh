#!/usr/bin/env bash
# The man pages against the program they describe, so that neither can
# change without the other: every command `bplink --help` lists has its page
# bplink-COMMAND(1) (a command's subcommands, such as `plan template`, are in
# its page), every option a command's --help lists appears in its page, the
# global options in bplink(1), and every page has the sections a reader
# looks for. groff reads each without a warning.
#
#   tests/install/man_pages_test.sh PROGRAM MANDIR
set -euo pipefail
program=$1
man=$2
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# The names under a --help section ("Subcommands:", "Options:", ...), one a line.
section() {  # help text on stdin, section title
  awk -v title="$1" '$0 == title ":" {on = 1; next} /^[A-Z][A-Za-z ()]*:$/ || /^$/ {on = 0} on' 
}
options() { grep -oE '(^|[ ,])--[a-z0-9][a-z0-9-]*' | sed 's/^[ ,]//' | sort -u; }
commands() { section Subcommands | awk '/^  [a-z]/ {print $1}'; }

in_page() {  # page file, option: the page names it as \-\-option (roff) or --option
  local escaped=${2//-/\\\\-}
  grep -qE -- "(${escaped}|$2)([^a-z0-9\\-]|\\\\f|$)" "$1"
}

check_page() {  # page, what it documents, help text
  local page=$1 what=$2 help=$3 option
  for heading in NAME SYNOPSIS DESCRIPTION OPTIONS "EXIT STATUS" ENVIRONMENT FILES EXAMPLES "SEE ALSO"; do
    grep -q "^\.SH \"\?$heading\"\?$" "$page" || fail "$(basename "$page"): no $heading section"
  done
  # The command's own options: those of its help before the global ones.
  while read -r option; do
    [ -n "$option" ] || continue
    in_page "$page" "$option" || fail "$(basename "$page") does not describe $what's option $option"
  done < <(sed '/^Global options/,$d' <<<"$help" | section Options | options)
  if warnings=$(groff -man -t -ww -z "$page" 2>&1) && [ -z "$warnings" ]; then :; else
    fail "$(basename "$page"): groff warns: $warnings"
  fi
}

top=$("$program" --help)
[ -f "$man/bplink.1" ] || fail "no bplink.1 in $man"
check_page "$man/bplink.1" "bplink" "$top"
count=0
for command in $(commands <<<"$top"); do
  page=$man/bplink-$command.1
  count=$((count + 1))
  if [ ! -f "$page" ]; then
    fail "the command '$command' has no man page (docs/man/bplink-$command.1.in)"
    continue
  fi
  grep -qF "$command" "$man/bplink.1" || fail "bplink.1 does not list the command $command"
  help=$("$program" "$command" --help)
  check_page "$page" "bplink $command" "$help"
  for sub in $(commands <<<"$help"); do
    grep -qE "^\.(B|BR|TP)?.*\b$sub\b" "$page" || fail "$(basename "$page") does not name 'bplink $command $sub'"
    check_page "$page" "bplink $command $sub" "$("$program" "$command" "$sub" --help)"
  done
done
# The global options, in bplink(1).
while read -r option; do
  in_page "$man/bplink.1" "$option" || fail "bplink.1 does not describe the global option $option"
done < <(sed -n '/^Global options/,$p' <<<"$("$program" download --help)" | options)
# A page for a command that is gone.
for page in "$man"/bplink-*.1; do
  name=$(basename "$page" .1)
  grep -qx "${name#bplink-}" <(commands <<<"$top") || fail "$(basename "$page") describes no command of the program"
done

[ "$failures" -eq 0 ] || exit 1
echo "-- $count commands, each with its page, every option described"
