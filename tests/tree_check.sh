#!/usr/bin/env bash
# Checks of the source tree that no compiler makes: firmware numbers are compared in one place
# only (link/firmware_features.cpp); everything else asks the session's features by name.
set -uo pipefail
cd "${1:?the source folder}"
status=0
hits=$(grep -rnE '(firmware\.minor|firmwareMinor|\bminor)[[:space:]]*(<|>|<=|>=|==|!=)[[:space:]]*[0-9]|[0-9][[:space:]]*(<|>|<=|>=|==|!=)[[:space:]]*(firmware\.minor|firmwareMinor|\bminor)\b' \
  --include='*.cpp' --include='*.h' app windows link ctl firmware bench fuzz |
  grep -v '^link/firmware_features\.cpp:')
if [ -n "$hits" ]; then
  echo "A firmware number compared outside link/firmware_features.cpp:"
  echo "$hits"
  status=1
fi
[ $status -eq 0 ] && echo "tree check: ok"
exit $status
