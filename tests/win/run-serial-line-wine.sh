#!/bin/bash
# The Windows serial line against the Linux simulator under Wine (README.md here).
# Usage: tests/win/run-serial-line-wine.sh BUILD-LINUX BUILD-WIN
set -euo pipefail
linux=$(realpath "${1:?the Linux build (for nx480-sim)}")
win=$(realpath "${2:?the Windows build}")
work=$(mktemp -d /tmp/nx480-wine-serial.XXXXXX)
export WINEPREFIX="$work/prefix" WINEDEBUG=-all
export WINEPATH="/usr/lib/gcc/x86_64-w64-mingw32/12-posix;/usr/x86_64-w64-mingw32/lib"
sim_pid=
cleanup() {
  [[ -n $sim_pid ]] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  wineserver -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
wineboot -i >/dev/null 2>&1
mkfifo "$work/sim.in"
"$linux/sim/nx480-sim" <"$work/sim.in" >"$work/sim.out" 2>"$work/sim.err" &
sim_pid=$!
exec 3>"$work/sim.in"  # keeps the simulator's stdin open
for _ in $(seq 100); do [[ -s $work/sim.out ]] && break; sleep 0.1; done
pty=$(head -1 "$work/sim.out")
[[ $pty == /dev/* ]] || { echo "nx480-sim gave no pty" >&2; exit 1; }
wine reg add 'HKLM\Software\Wine\Ports' /v COM5 /d "$pty" /f >/dev/null 2>&1
wineserver -k 2>/dev/null || true  # the mount manager reads the ports when it starts
status=0
wine "$win/tests/win/serial_line_wine_test.exe" COM5 COM9 "Z:${work//\//\\}\\report.txt" \
  >/dev/null 2>&1 || status=$?
cat "$work/report.txt" 2>/dev/null || { echo "no report" >&2; status=1; }

# The device gone: a second simulator as COM6 (a bare link opens), ended while a read waits.
mkfifo "$work/gone.in"
"$linux/sim/nx480-sim" <"$work/gone.in" >"$work/gone.out" 2>/dev/null &
gone_pid=$!
exec 4>"$work/gone.in"
for _ in $(seq 100); do [[ -s $work/gone.out ]] && break; sleep 0.1; done
ln -sf "$(head -1 "$work/gone.out")" "$WINEPREFIX/dosdevices/com6"
wine "$win/tests/win/serial_line_wine_test.exe" --gone COM6 "Z:${work//\//\\}\\gone.txt" \
  >/dev/null 2>&1 &
test_pid=$!
# The simulator ends once the port is open: mostly while the read waits, else just before it
# starts - either way the read must end at once, the device gone (both orders tried).
for _ in $(seq 300); do grep -q opened "$work/gone.txt" 2>/dev/null && break; sleep 0.1; done
kill "$gone_pid"
wait "$gone_pid" || true
exec 4>&-
wait "$test_pid" || status=$((status + $?))
cat "$work/gone.txt" 2>/dev/null || { echo "no report of the device gone" >&2; status=1; }
exit "$status"
