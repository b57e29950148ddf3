#!/usr/bin/env bash
# scripts/run-demo and scripts/demo-relay as a shell runs them: the demo started on the built
# programs with `nx480ctl live --stream` as its tool; a command of demo-relay reaches the running
# relay and the tool sees its effect (a trip, a silent line); a wrong command and no demo at all
# are said, with their exit status; the end of the demo takes its simulators and files along.
# Usage: demo_check.sh SOURCE_DIR BUILD_DIR
set -uo pipefail
src=${1:?the source folder}
build=${2:?the build folder}
status=0
fail() { echo "$*"; status=1; }
tmp=$(mktemp -d)
export XDG_RUNTIME_DIR=$tmp/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"
demo=""
# shellcheck disable=SC2317 # run by the trap
cleanup() {
  [ -n "$demo" ] && kill -TERM -- "-$demo" 2>/dev/null
  rm -rf "$tmp"
}
trap cleanup EXIT

# until TEXT FILE: waits (30 s at most) until FILE holds TEXT.
until_has() {
  for _ in $(seq 600); do
    grep -qF -- "$1" "$2" 2>/dev/null && return 0
    sleep 0.05
  done
  fail "no '$1' in $2: $(tail -c 600 "$2")"
  return 1
}
# relay EXPECTED_STATUS EXPECTED_TEXT ARGS...: scripts/demo-relay ARGS, its status and answer.
relay() {
  local want=$1 says=$2 out code
  shift 2
  out=$("$src/scripts/demo-relay" "$@" 2>&1)
  code=$?
  [ "$code" -eq "$want" ] || fail "demo-relay $*: exit status $code, not $want: $out"
  grep -qF -- "$says" <<<"$out" || fail "demo-relay $*: no '$says' in: $out"
}

relay 2 "no demo is running" live

# The demo in a process group of its own, as a terminal starts it.
NX480_DEMO_BUILD=$build NX480_DEMO_TOOL="$build/ctl/nx480ctl live --stream" \
  setsid "$src/scripts/run-demo" >"$tmp/demo.out" 2>"$tmp/demo.err" </dev/null &
demo=$!
until_has "U1 230" "$tmp/demo.out" || exit 1
run=$(readlink "$XDG_RUNTIME_DIR/nx480-demo.$(id -u)")

relay 0 "ok" trip Uu1 60
until_has "tripped: Uu1" "$tmp/demo.out"
relay 0 "coils=0x000100" live          # U< tripped: coil 8
relay 0 "coils=0x000000" --other live  # the other device was not told
relay 1 "error: unknown command" bogus
relay 0 "ok" mute
until_has "no reply" "$tmp/demo.out"

kill -TERM -- "-$demo"
wait "$demo"
demo=""
[ -e "$run" ] && fail "the demo's folder $run is left"
[ -e "$XDG_RUNTIME_DIR/nx480-demo.$(id -u)" ] && fail "the pointer to the ended demo is left"
relay 2 "no demo is running" live
exit $status
