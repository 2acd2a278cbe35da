#!/usr/bin/env bash
# The man pages against the program they describe, so that neither can
# change without the other: every command `bplink --help` lists has its page
# bplink-COMMAND(1), named in bplink(1)'s list and its SEE ALSO; a command's
# subcommands (`plan template`, `archive move`) each have a subsection of
# its page (.SS "bplink archive move") that names the subcommand's own
# options, the options they share being in the page's OPTIONS; every option
# a command's --help lists appears in its page, the global options and every
# exit status in bplink(1), and every page has the sections a reader looks
# for. groff reads each without a warning.
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

# The lines of a page from the heading that matches the regular expression
# to the next heading of that level or above.
part() {  # page file, heading regex (".SH OPTIONS", '.SS "bplink archive move"')
  HEADING=$2 awk 'on && /^\.S[HS]( |$)/ && ($0 ~ /^\.SH/ || ENVIRON["HEADING"] ~ /^\.SS/) {on = 0}
                  $0 ~ "^" ENVIRON["HEADING"] "$" {on = 1; next} on' "$1"
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
  grep -qE "^\.BR bplink\\\\-$command \(1\)" <(part "$man/bplink.1" ".SH \"?SEE ALSO\"?") ||
    fail "bplink.1's SEE ALSO does not name bplink-$command(1) (docs/man/see-also.roff)"
  help=$("$program" "$command" --help)
  check_page "$page" "bplink $command" "$help"
  for sub in $(commands <<<"$help"); do
    # The subcommand's own section names its options; those every
    # subcommand shares may stand in the page's OPTIONS instead.
    section=$(part "$page" ".SS \"bplink $command ${sub//-/'\\?-'}\"")
    if [ -z "$section" ]; then
      fail "$(basename "$page") has no section .SS \"bplink $command $sub\""
      continue
    fi
    shared=$(part "$page" ".SH OPTIONS")
    sub_help=$("$program" "$command" "$sub" --help)
    while read -r option; do
      [ -n "$option" ] || continue
      in_page <(printf '%s\n%s\n' "$section" "$shared") "$option" ||
        fail "$(basename "$page") does not describe bplink $command $sub's option $option in its section or in OPTIONS"
    done < <(section Options <<<"$sub_help" | options)
  done
done
# Every exit status the program names, in bplink(1) (docs/man/exit-status.roff).
while read -r status; do
  grep -qx "\.B $status" <(part "$man/bplink.1" ".SH \"?EXIT STATUS\"?") ||
    fail "bplink.1 does not describe exit status $status"
done < <(section "Exit status" <<<"$top" | awk '/^  [0-9]+ / {print $1}')
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
