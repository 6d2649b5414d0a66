#!/usr/bin/env bash
# Runs one Windows program under Wine in a prefix of its own: a copy of the
# template with its own wineserver, removed afterwards.  The mingw preset
# names this script as CMAKE_CROSSCOMPILING_EMULATOR, so ctest runs each test
# program as `run_program.bash PROGRAM.exe ARGUMENTS...`; a prefix per
# program lets ctest run several at once.  Exits with the program's code.
# (It ends in .bash so that it is not taken for a scenario of its own.)
set -u
ROOT=${ROOT:-$(cd "$(dirname "$0")/../.." && pwd)}
# shellcheck source=harness.sh
source "$ROOT/tests/wine/harness.sh"

if [ $# -lt 1 ]; then
  echo "usage: $0 PROGRAM.exe [ARGUMENTS...]" >&2
  exit 2
fi

wine_prefix "run-$(basename "$1" .exe)"
trap wine_stop EXIT
# A test stopped by ctest (time out) still takes its server down.
trap 'exit 143' TERM INT
wine_start
"$WINE64" "$@"
