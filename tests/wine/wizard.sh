#!/usr/bin/env bash
# The install run on the Win32 backend under Wine: the wizard's install tests
# (built with mingw) with drives E: and F: mapped onto scratch folders, so
# that the run writes through real drive letters.  Prints "PASS wizard.<test>"
# or "FAIL wizard.<test>" lines; a test skipped for want of a drive fails, and
# the script exits non-zero when one fails.
set -u
ROOT=${ROOT:-$(cd "$(dirname "$0")/../.." && pwd)}
# shellcheck source=harness.sh
source "$ROOT/tests/wine/harness.sh"
# shellcheck source=scenario_lib.bash
source "$ROOT/tests/wine/scenario_lib.bash"
TESTS_DIR=${WIZARD_TESTS_DIR:-$ROOT/out/build/mingw/tests}

SCRATCH=$(mktemp -d)
wine_prefix wizard
wine_drive E "$SCRATCH/E"
wine_drive F "$SCRATCH/F"
wine_start
trap 'wine_stop; chmod -R u+w "$SCRATCH"; rm -rf "$SCRATCH"' EXIT
export BRELVANE_TEST_DRIVES=EF

scenario_gtests wizard "$TESTS_DIR" wizard_tests 'WizardInstallRun*:Table/WizardInstallRunFailures*'
scenario_gtests wizard "$TESTS_DIR" machines_tests 'InstallOnMachine*'
scenario_gtests wizard "$TESTS_DIR" unattended_tests 'Machines/Unattended*'
scenario_exit
