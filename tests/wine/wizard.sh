#!/usr/bin/env bash
# The install run on the Win32 backend under Wine: the wizard's install tests
# (built with mingw) with drives E: and F: mapped onto scratch folders, so
# that the run writes through real drive letters.  Prints "PASS wizard.<test>"
# or "FAIL wizard.<test>" lines; a test skipped for want of a drive fails.
set -u
ROOT=${ROOT:-$(cd "$(dirname "$0")/../.." && pwd)}
# shellcheck source=harness.sh
source "$ROOT/tests/wine/harness.sh"
TESTS_DIR=${WIZARD_TESTS_DIR:-$ROOT/out/build/mingw/tests}

SCRATCH=$(mktemp -d)
wine_prefix wizard
wine_drive E "$SCRATCH/E"
wine_drive F "$SCRATCH/F"
wine_start
trap 'wine_stop; chmod -R u+w "$SCRATCH"; rm -rf "$SCRATCH"' EXIT
export BRELVANE_TEST_DRIVES=EF

# run PROGRAM FILTER: one verdict line per test of PROGRAM that FILTER selects.
run() {
  local exe=$TESTS_DIR/$1.exe
  if [ ! -f "$exe" ]; then
    echo "FAIL wizard.$1 (not built: $exe)"
    return
  fi
  (cd "$ROOT" && "$WINE64" "$exe" --gtest_filter="$2") 2>&1 | tr -d '\r' |
    sed -nE 's/^\[       OK \] ([^ ]+).*/PASS wizard.\1/p
             s/^\[  FAILED  \] ([^ ,]+) \(.*/FAIL wizard.\1/p
             s/^\[  SKIPPED \] ([^ ]+).*/FAIL wizard.\1 (skipped: no drive)/p'
}

run wizard_tests 'WizardInstallRun*:Table/WizardInstallRunFailures*'
run machines_tests 'InstallOnMachine*'
