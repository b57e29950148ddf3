#!/usr/bin/env bash
# Checks of the source tree that no compiler makes:
# - firmware numbers are compared in one place only (link/firmware_features.cpp); everything else
#   asks the session's features by name;
# - windows/ and app/ hold only what needs Qt: a file there that uses no Qt (nor its own header
#   does) belongs in records/;
# - nx480ctl stands beside the windows: nothing in ctl/ includes a header of windows/ or app/;
# - firmware/ lies below records/: nothing in firmware/ includes a header of records/;
# - the settings window's pages see their frame through SetupFrame: no page includes form_setup.h;
# - the journal's store knows no settings, calibration or relay clock (what each change keeps is
#   journal_changes.*), and the recordings and grid-code profiles find their folders through
#   places.h, not the journal.
set -uo pipefail
cd "${1:?the source folder}"
status=0

hits=$(grep -rnE '(firmware\.minor|firmwareMinor|\bminor)[[:space:]]*(<|>|<=|>=|==|!=)[[:space:]]*[0-9]|[0-9][[:space:]]*(<|>|<=|>=|==|!=)[[:space:]]*(firmware\.minor|firmwareMinor|\bminor)\b' \
  --include='*.cpp' --include='*.h' app windows link ctl firmware records bench fuzz |
  grep -v '^link/firmware_features\.cpp:')
if [ -n "$hits" ]; then
  echo "A firmware number compared outside link/firmware_features.cpp:"
  echo "$hits"
  status=1
fi

uses_qt() { grep -qE '#include <Q|\bQ_OBJECT\b|\bQ[A-Z][A-Za-z]+\b' "$1"; }
for f in windows/*.h windows/*.cpp app/*.h app/*.cpp; do
  [ -e "$f" ] || continue
  own_header="${f%.*}.h"
  if ! uses_qt "$f" && ! { [ "$own_header" != "$f" ] && [ -e "$own_header" ] && uses_qt "$own_header"; }; then
    echo "$f uses no Qt: it belongs in records/ (or link/), not beside the widgets"
    status=1
  fi
done

for f in ctl/*.h ctl/*.cpp; do
  while read -r header; do
    if [ -e "windows/$header" ] || [ -e "app/$header" ]; then
      echo "$f includes $header, a header of the windows: nx480ctl uses link/, firmware/ and records/"
      status=1
    fi
  done < <(sed -nE 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"([^"]+)".*/\1/p' "$f")
done

for f in firmware/*.h firmware/*.cpp; do
  while read -r header; do
    if [ -e "records/$header" ]; then
      echo "$f includes $header, a header of records/: firmware/ uses link/ only"
      status=1
    fi
  done < <(sed -nE 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"([^"]+)".*/\1/p' "$f")
done

for f in windows/page_*.h windows/page_*.cpp windows/setup_page.h windows/setup_page.cpp; do
  [ -e "$f" ] || continue
  if grep -qE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"form_setup\.h"' "$f"; then
    echo "$f includes form_setup.h: a page sees its frame as SetupFrame (setup_page.h)"
    status=1
  fi
done

included() { sed -nE 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"([^"]+)".*/\1/p' "$1"; }
for f in records/journal.h records/journal.cpp records/journal_basics.h records/journal_basics.cpp; do
  while read -r header; do
    case "$header" in
      settings_table.h | settings_file.h | settings_record.h | settings_compare.h | \
        calibration_record.h | relay_time.h | journal_changes.h)
        echo "$f includes $header: the journal's store knows no settings, calibration or clock"
        status=1
        ;;
    esac
  done < <(included "$f")
done
for f in records/recording.h records/recording.cpp records/grid_profile.h records/grid_profile.cpp; do
  while read -r header; do
    case "$header" in
      journal.h | journal_changes.h)
        echo "$f includes $header: the tool's folders are places.h's, not the journal's"
        status=1
        ;;
    esac
  done < <(included "$f")
done

[ $status -eq 0 ] && echo "tree check: ok"
exit $status
