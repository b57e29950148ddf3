#!/usr/bin/env bash
# nx480-pc --help as a shell runs it: the usage on standard output, exit status 0, and no window -
# it needs no display (run here on the X11 platform without one, where making the application
# object would end the program). Every option of the usage is in the manual page's synopsis or
# options, and every option of the manual page's options is in the usage.
# Usage: app_help_check.sh NX480_PC MANUAL_PAGE
set -uo pipefail
pc=${1:?nx480-pc}
man=${2:?the manual page}
status=0
fail() { echo "$*"; status=1; }
err=$(mktemp)
trap 'rm -f "$err"' EXIT

# The options of a text: --name or -x, not inside a word.
options() { grep -oE '(^|[^[:alnum:]_-])--?[a-z][a-z0-9-]*' | sed -E 's/^[^-]+//' | sort -u; }
# The lines of the manual page's sections named, without roff's escaped minus.
sections() { sed -E 's/\\-/-/g' "$man" | awk -v want="$1" '/^\.SH/ { s = $2; next } s != "" && want ~ s'; }
has_option() { grep -qE -- "(^|[^[:alnum:]_-])$1([^[:alnum:]_-]|$)"; }

for args in "--help" "-h" "/servis --help" "--lang en -h"; do
  # shellcheck disable=SC2086 # the arguments split at blanks
  out=$(env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb "$pc" $args 2>"$err")
  code=$?
  [ "$code" -eq 0 ] || fail "nx480-pc $args: exit status $code: $(cat "$err")"
  [ -s "$err" ] && fail "nx480-pc $args wrote to standard error: $(cat "$err")"
  for part in "Usage: nx480-pc" "/servis" "--lang cs|en" "NX480_PORTS"; do
    grep -qF -- "$part" <<<"$out" || fail "nx480-pc $args: no '$part' in the usage"
  done
done

usage=$(env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb "$pc" --help)
for o in $(options <<<"$usage"); do
  sections "SYNOPSIS OPTIONS" | has_option "$o" ||
    fail "the usage's $o is not in the manual page's synopsis or options"
done
for o in $(sections OPTIONS | options); do
  has_option "$o" <<<"$usage" || fail "the manual page's option $o is not in the usage"
done
exit $status
