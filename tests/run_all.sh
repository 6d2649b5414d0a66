# Runs every test: ctest on the native build, the core tests built with mingw
# under Wine, and the Wine scenarios (tests/wine/*.sh).  Ends with one line
# "N passed, N failed".
NATIVE_DIR=$ROOT/out/build/native
MINGW_DIR=$ROOT/out/build/mingw
TOTAL_PASSED=0
TOTAL_FAILED=0

count_result() { # count_result PASSED FAILED LABEL
  TOTAL_PASSED=$((TOTAL_PASSED + $1))
  TOTAL_FAILED=$((TOTAL_FAILED + $2))
  log "$3: $1 passed, $2 failed"
}

run_native_tests() {
  log "native tests (AddressSanitizer, UBSan)"
  local out=$NATIVE_DIR/ctest.log
  (cd "$NATIVE_DIR" && ctest -j 2 --output-on-failure --timeout 600) > "$out" 2>&1 || true
  grep -E '^\s*[0-9]+/[0-9]+ Test .*(\*\*\*(Failed|Timeout|Exception)|Not Run)' "$out" | head -50 >&2 || true
  local total failed
  total=$(sed -nE 's/.*tests failed out of ([0-9]+).*/\1/p' "$out" | tail -1)
  failed=$(sed -nE 's/.* ([0-9]+) tests failed out of.*/\1/p' "$out" | tail -1)
  if [ -z "$total" ]; then
    tail -30 "$out" >&2
    count_result 0 1 "native ctest (no result)"
    return
  fi
  count_result $((total - failed)) "$failed" "native ctest"
}

# Core test programs built with mingw, on the Win32 backend under Wine, all
# in one prefix.
run_wine_core_tests() {
  local exes=("$MINGW_DIR"/tests/*_tests.exe)
  [ -f "${exes[0]}" ] || { count_result 0 1 "wine core tests (not built)"; return; }
  # shellcheck source=wine/harness.sh
  source "$ROOT/tests/wine/harness.sh"
  wine_prefix core
  wine_start
  local exe out passed failed
  for exe in "${exes[@]}"; do
    log "under Wine: $(basename "$exe")"
    out=$MINGW_DIR/wine-$(basename "$exe" .exe).log
    "$WINE64" "$exe" --gtest_brief=1 > "$out" 2>&1 || true
    grep -E '^\[  FAILED  \]' "$out" | head -50 >&2 || true
    passed=$(sed -nE 's/^\[  PASSED  \] ([0-9]+) tests?\..*/\1/p' "$out" | tail -1)
    failed=$(sed -nE 's/^\[  FAILED  \] ([0-9]+) tests?, listed below.*/\1/p' "$out" | tail -1)
    if [ -z "$passed" ] && [ -z "$failed" ]; then
      tail -30 "$out" >&2
      count_result 0 1 "wine $(basename "$exe") (no result)"
      continue
    fi
    count_result "${passed:-0}" "${failed:-0}" "wine $(basename "$exe")"
  done
  wine_stop
}

# run_pass_fail_script SCRIPT: runs a script that prints "PASS name" or
# "FAIL name" lines and counts them.
run_pass_fail_script() {
  local script=$1 out p f
  out=$MINGW_DIR/$(basename "$script" .sh).log
  bash "$script" > "$out" 2>&1 || true
  grep -E '^FAIL ' "$out" >&2 || true
  p=$(grep -cE '^PASS ' "$out" || true)
  f=$(grep -cE '^FAIL ' "$out" || true)
  if [ "$p" -eq 0 ] && [ "$f" -eq 0 ]; then
    tail -20 "$out" >&2
    f=1
  fi
  count_result "$p" "$f" "$(basename "$script" .sh)"
}

# Each tests/wine/*.sh scenario prints "PASS name" or "FAIL name" lines.
run_wine_scenarios() {
  local script
  for script in "$ROOT"/tests/wine/*.sh; do
    [ "$(basename "$script")" = harness.sh ] && continue
    log "wine scenarios: $(basename "$script")"
    run_pass_fail_script "$script"
  done
}

# Cheap checks of the built Windows programs that a release depends on.
run_release_checks() {
  log "release checks: windows_programs.sh"
  run_pass_fail_script "$ROOT/tests/release/windows_programs.sh"
}

run_short_fuzz() {
  [ -f "$ROOT/tests/fuzz/run.sh" ] || return 0
  ensure_packages "${FUZZ_PKGS[@]}"
  # shellcheck source=fuzz/run.sh
  source "$ROOT/tests/fuzz/run.sh"
  local p f
  if run_fuzzers "${FUZZ_SECONDS:-20}"; then p=1; f=0; else p=0; f=1; fi
  count_result "$p" "$f" "fuzzers"
}

run_all_tests() {
  run_native_tests
  run_wine_core_tests
  run_wine_scenarios
  run_release_checks
  run_short_fuzz
  echo "${TOTAL_PASSED} passed, ${TOTAL_FAILED} failed"
  [ "$TOTAL_FAILED" -eq 0 ]
}
