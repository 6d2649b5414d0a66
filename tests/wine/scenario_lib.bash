# Verdict lines shared by the Wine scenario scripts (sourced after harness.sh;
# it ends in .bash so that it is not taken for a scenario of its own).  Each
# script ends with scenario_exit, so ctest sees a failed case as a failed
# script.
SCENARIO_PASSED=0
SCENARIO_FAILED=0

scenario_pass() { echo "PASS $*"; SCENARIO_PASSED=$((SCENARIO_PASSED + 1)); }
scenario_fail() { echo "FAIL $*"; SCENARIO_FAILED=$((SCENARIO_FAILED + 1)); }

# scenario_verdict NAME STATUS: "PASS NAME" when STATUS is 0, else "FAIL NAME".
scenario_verdict() {
  if [ "$2" -eq 0 ]; then scenario_pass "$1"; else scenario_fail "$1"; fi
}

# scenario_gtests PREFIX FOLDER PROGRAM FILTER: runs FOLDER/PROGRAM.exe under
# Wine from the source tree with FILTER and prints one "PASS PREFIX.<test>" or
# "FAIL PREFIX.<test>" line per test it selects; a test skipped for want of a
# drive fails, and so does a run that selects no test or ends with a non-zero
# code that no failed test explains (a crash).
scenario_gtests() {
  local prefix=$1 exe=$2/$3.exe out status line failed_before=$SCENARIO_FAILED ran=0
  if [ ! -f "$exe" ]; then
    scenario_fail "$prefix.$3 (not built: $exe)"
    return
  fi
  out=$(cd "$ROOT" && "$WINE64" "$exe" --gtest_filter="$4" 2>&1)
  status=$?
  while IFS= read -r line; do
    case $line in
      PASS\ *) scenario_pass "${line#PASS }" ;;
      FAIL\ *) scenario_fail "${line#FAIL }" ;;
      *) continue ;;
    esac
    ran=$((ran + 1))
  done < <(printf '%s\n' "$out" | tr -d '\r' |
    sed -nE "s/^\[       OK \] ([^ ]+).*/PASS $prefix.\1/p
             s/^\[  FAILED  \] ([^ ,]+) \(.*/FAIL $prefix.\1/p
             s/^\[  SKIPPED \] ([^ ]+) \(.*/FAIL $prefix.\1 (skipped: no drive)/p")
  if [ "$ran" -eq 0 ]; then
    scenario_fail "$prefix.$3 (no test ran for '$4', exit $status)"
  elif [ "$status" -ne 0 ] && [ "$SCENARIO_FAILED" -eq "$failed_before" ]; then
    scenario_fail "$prefix.$3 (exit $status)"
  fi
  if [ "$SCENARIO_FAILED" -ne "$failed_before" ]; then
    printf '%s\n' "$out" | tr -d '\r' | grep -vE '^\[ *(OK|RUN) *\]' | tail -40 | sed 's/^/    | /'
  fi
}

# scenario_exit: ends the script, non-zero when a case failed or none passed.
scenario_exit() {
  echo "$SCENARIO_PASSED passed, $SCENARIO_FAILED failed"
  [ "$SCENARIO_FAILED" -eq 0 ] && [ "$SCENARIO_PASSED" -gt 0 ] && exit 0
  exit 1
}
