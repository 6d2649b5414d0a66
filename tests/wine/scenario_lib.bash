# Verdict lines shared by the Wine scenario scripts (sourced after harness.sh;
# it ends in .bash so that it is not taken for a scenario of its own).

# scenario_verdict NAME STATUS: "PASS NAME" when STATUS is 0, else "FAIL NAME".
scenario_verdict() {
  if [ "$2" -eq 0 ]; then echo "PASS $1"; else echo "FAIL $1"; fi
}

# scenario_gtests PREFIX FOLDER PROGRAM FILTER: runs FOLDER/PROGRAM.exe under
# Wine from the source tree with FILTER and prints one "PASS PREFIX.<test>" or
# "FAIL PREFIX.<test>" line per test it selects; a test skipped for want of a
# drive fails.
scenario_gtests() {
  local prefix=$1 exe=$2/$3.exe
  if [ ! -f "$exe" ]; then
    echo "FAIL $prefix.$3 (not built: $exe)"
    return
  fi
  (cd "$ROOT" && "$WINE64" "$exe" --gtest_filter="$4") 2>&1 | tr -d '\r' |
    sed -nE "s/^\[       OK \] ([^ ]+).*/PASS $prefix.\1/p
             s/^\[  FAILED  \] ([^ ,]+) \(.*/FAIL $prefix.\1/p
             s/^\[  SKIPPED \] ([^ ]+).*/FAIL $prefix.\1 (skipped: no drive)/p"
}
