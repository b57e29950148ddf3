#!/usr/bin/env bash
# The English translation is complete: lupdate run over the code into a copy of the .ts finds no
# text the .ts lacks (it would come in unfinished), and no entry is unfinished or vanished.
#   translation_check.sh LUPDATE SOURCE_DIR
set -euo pipefail
lupdate=$1
source=$2
ts=$source/translations/nx480-pc_en.ts
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$ts" "$work/check.ts"
"$lupdate" -silent -no-obsolete -locations none -source-language cs_CZ -target-language en \
  "$source/app" "$source/windows" "$source/records" -ts "$work/check.ts" >"$work/lupdate.log" 2>&1
if grep -q . "$work/lupdate.log"; then
  echo "lupdate warns:" && cat "$work/lupdate.log"
  exit 1
fi
status=0
if ! cmp -s "$ts" "$work/check.ts"; then
  echo "translations/nx480-pc_en.ts is not up to date with the code (ninja nx480-lupdate):"
  diff "$ts" "$work/check.ts" | head -40
  status=1
fi
unfinished=$(grep -c 'type="unfinished"\|type="vanished"\|type="obsolete"' "$work/check.ts" || true)
if [ "$unfinished" -gt 0 ]; then
  echo "$unfinished entries not translated:"
  grep -B3 'type="unfinished"\|type="vanished"\|type="obsolete"' "$work/check.ts" | grep '<source>' | head -40
  status=1
fi
messages=$(grep -c '<message' "$work/check.ts" || true)
[ $status -eq 0 ] && echo "translation complete: $messages texts"
exit $status
