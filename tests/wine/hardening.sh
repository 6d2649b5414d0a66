#!/usr/bin/env bash
# Faults and crafted packages on the Win32 backend under Wine: the install
# run's fault sweep and the refusals of crafted modules writing through real
# drive letters, and oempack.exe appending from several processes at once
# (LockFileEx) and checking what it wrote.  Prints "PASS hardening.<test>"
# or "FAIL hardening.<test>" lines; exits non-zero when one fails.
set -u
ROOT=${ROOT:-$(cd "$(dirname "$0")/../.." && pwd)}
# shellcheck source=harness.sh
source "$ROOT/tests/wine/harness.sh"
# shellcheck source=scenario_lib.bash
source "$ROOT/tests/wine/scenario_lib.bash"
TESTS_DIR=${HARDENING_TESTS_DIR:-$ROOT/out/build/mingw/tests}
OEMPACK_EXE=${HARDENING_OEMPACK:-$ROOT/out/win/oempack.exe}

SCRATCH=$(mktemp -d)
wine_prefix hardening
wine_drive E "$SCRATCH/E"
wine_drive F "$SCRATCH/F"
wine_drive W "$SCRATCH/W"
wine_start
trap 'wine_stop; chmod -R u+w "$SCRATCH"; rm -rf "$SCRATCH"' EXIT
export BRELVANE_TEST_DRIVES=EF

scenario_gtests hardening "$TESTS_DIR" machines_tests 'InstallRun*:Table/HostilePackage*'

# Concurrent appends: three processes, two modules each.
verdict() { scenario_verdict "hardening.$1" "$2"; }
if [ -f "$OEMPACK_EXE" ]; then
  W=$SCRATCH/W
  head -c 4096 /dev/zero > "$W/setup.exe"
  for w in 1 2 3; do
    for r in 1 2; do head -c $(( (w * 211 + r * 97) * 1024 )) /dev/urandom > "$W/w$w-r$r.bin"; done
  done
  pids=()
  for w in 1 2 3; do
    ( for r in 1 2; do "$WINE64" "$OEMPACK_EXE" add 'W:\setup.exe' "W:\\w$w-r$r.bin" || exit 1; done ) \
      > "$SCRATCH/writer$w.log" 2>&1 &
    pids+=($!)
  done
  status=0
  for pid in "${pids[@]}"; do wait "$pid" || status=1; done
  [ "$status" -eq 0 ] || cat "$SCRATCH"/writer*.log >&2
  verdict concurrent-adds "$status"
  "$WINE64" "$OEMPACK_EXE" verify 'W:\setup.exe' > "$SCRATCH/verify.log" 2>&1
  grep -q "^6 module(s), 6 checked and sound" <(tr -d '\r' < "$SCRATCH/verify.log")
  verdict concurrent-verify $?
  status=0
  for w in 1 2 3; do
    for r in 1 2; do
      "$WINE64" "$OEMPACK_EXE" extract 'W:\setup.exe' "w$w-r$r.bin" -o "W:\\w$w-r$r.out" > /dev/null 2>&1 &&
        cmp -s "$W/w$w-r$r.bin" "$W/w$w-r$r.out" || status=1
    done
  done
  verdict concurrent-extract "$status"
else
  scenario_fail "hardening.oempack (not built: $OEMPACK_EXE)"
fi
scenario_exit
