#!/usr/bin/env bash
# nx480ctl's help, its manual page and the user guide name the same commands and options:
# - every command, subcommand and option of `nx480ctl --help` and `nx480ctl COMMAND --help` is
#   in the manual page's synopsis and item headings, and in the code of the user guide's
#   nx480ctl section (a subcommand on a line that names its command);
# - every command that the manual page describes, and every option that it or that section
#   names, is in the help.
# Usage: ctl_docs_check.sh NX480CTL MANUAL_PAGE USER_GUIDE
set -uo pipefail
ctl=${1:?nx480ctl}
man=${2:?the manual page}
guide=${3:?the user guide}
status=0

# The words of a text, split at blanks and at the punctuation of usage lines.
words() { tr -s ' \t[]|"`\\,()' '\n' | sed '/^$/d' | sort -u; }
# The options of a text: --name or -x, not inside a word (Ctrl-C, U1-U3).
options() { grep -oE '(^|[^[:alnum:]_-])--?[a-z][a-z0-9-]*' | sed -E 's/^[^-]+//' | sort -u; }
# Roff without its escapes: \- as -, no font changes, no request name in front.
plain_roff() { sed -E -e 's/\\-/-/g' -e 's/\\f[BIRP]//g' -e 's/^\.[A-Za-z]+ ?//'; }
# command:word for every word of a line that names a command (of $commands), line by line.
pairs() {
  local line lwords c
  while IFS= read -r line; do
    lwords=$(words <<<"$line")
    for c in $commands; do
      # shellcheck disable=SC2001 # every line of the list prefixed
      grep -qxF "$c" <<<"$lwords" && sed "s/^/$c:/" <<<"$lwords"
    done
  done | sort -u
}

overview=$("$ctl" --help) || { echo "nx480ctl --help failed"; exit 1; }
commands=$(sed -n '/^Commands:/,/^$/p' <<<"$overview" | sed -nE 's/^  ([a-z][a-z-]*).*/\1/p' | sort -u)
[ -n "$commands" ] || { echo "no commands found in nx480ctl --help"; exit 1; }

help_text=$overview
subcommands=""
for c in $commands; do
  text=$("$ctl" "$c" --help) || { echo "nx480ctl $c --help failed"; status=1; continue; }
  help_text+=$'\n'"$text"
  # The word after the command on its usage lines (read|write, auto|on|off, [show], set, ...),
  # as command:subcommand.
  subcommands+=$'\n'$(grep -E '^(Usage: | +)nx480ctl ' <<<"$text" |
    sed -nE "s/.* $c +([^ ]+).*/\1/p" | words | grep -E '^[a-z][a-z-]*$' | sed "s/^/$c:/")
done
subcommands=$(sed '/^$/d' <<<"$subcommands" | sort -u)
help_options=$(options <<<"$help_text")

# The manual page: its synopsis and the heading of every item under COMMANDS and OPTIONS.
man_headings=$(awk '/^\.SH/ { section = $2; heading = 0; next }
  section == "SYNOPSIS" || ((section == "COMMANDS" || section == "OPTIONS") && heading) { print }
  { heading = /^\.TP/ }' "$man" | plain_roff)
man_words=$(words <<<"$man_headings")
man_pairs=$(pairs <<<"$man_headings")
man_commands=$(awk '/^\.SH/ { section = $2; heading = 0; next }
  section == "COMMANDS" && heading { print }
  { heading = /^\.TP/ }' "$man" | plain_roff | tr -d '"' |
  awk '{ for (i = 1; i <= NF; i++) if ($i !~ /^-/) { print $i; break } }' | sort -u)
man_options=$(plain_roff <"$man" | options)

# The user guide: the code spans of its nx480ctl section (not those that run the simulator).
# shellcheck disable=SC2016 # the backticks are markdown's
guide_code=$(awk '/^## / { inside = ($2 == "nx480ctl," || $2 == "nx480ctl") } inside' "$guide" |
  grep -oE '`[^`]+`' | grep -v 'nx480-sim')
[ -n "$guide_code" ] || { echo "$guide: no nx480ctl section"; exit 1; }
guide_words=$(words <<<"$guide_code")
guide_pairs=$(pairs <<<"$guide_code")
guide_options=$(options <<<"$guide_code")

missing() {  # missing WHAT NAMES IN WHERE: the names not among the words IN
  local what=$1 names=$2 in=$3 where=$4 name
  for name in $names; do
    if ! grep -qxF -- "$name" <<<"$in"; then
      echo "$what $name: not in $where"
      status=1
    fi
  done
}

missing "command" "$commands" "$man_words" "the headings of $man"
missing "subcommand" "$subcommands" "$man_pairs" "the headings of $man"
missing "option" "$help_options" "$man_words" "the headings of $man"
missing "command" "$commands" "$guide_words" "the nx480ctl section of $guide"
missing "subcommand" "$subcommands" "$guide_pairs" "the nx480ctl section of $guide"
missing "option" "$help_options" "$guide_words" "the nx480ctl section of $guide"
missing "command" "$man_commands" "$commands" "nx480ctl --help (it is in $man)"
missing "option" "$man_options" "$help_options" "nx480ctl's help (it is in $man)"
missing "option" "$guide_options" "$help_options" "nx480ctl's help (it is in $guide)"

[ $status -eq 0 ] && echo "nx480ctl's help, manual page and user guide agree"
exit $status
