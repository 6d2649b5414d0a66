# shellcheck shell=bash
# Runs every test: ctest in each preset's build folder, then one summary over
# ctest's JUnit reports (tests/ctest_summary.py).  Sourced by ./run after the
# presets are built; needs ROOT.  Ends with one line "N passed, N failed" (and
# ", N skipped" when a test could not run on this machine) and returns
# non-zero when anything failed.
#   native  GoogleTest cases (ASan, UBSan), the CLI scripts, the format check
#   mingw   the same test programs under Wine, the Wine scenarios, the
#           release checks of the Windows programs (x64)
#   mingw-x86  the same for the x86 build, under 32-bit Wine (skipped, with
#           the reason, on a machine whose kernel runs no 32-bit code)
#   core-x86   the core's GoogleTest cases built as 32-bit Linux programs,
#           run by qemu-i386 (32-bit pointers and size_t on any machine)
#   fuzz    each libFuzzer target for $FUZZ_SECONDS (default 20)
TEST_PRESETS=(native mingw mingw-x86 core-x86 fuzz)

# run_preset_tests PRESET: ctest with its output in the build folder's
# ctest.log and its results in ctest.xml.
run_preset_tests() {
  local dir=$ROOT/out/build/$1
  log "ctest --preset $1 (log: ${dir#"$ROOT"/}/ctest.log)"
  rm -f "$dir/ctest.xml"
  ctest --preset "$1" -j 2 --timeout 900 --no-tests=error --output-junit "$dir/ctest.xml" \
    > "$dir/ctest.log" 2>&1 || true
  grep -E '^Total Test time' "$dir/ctest.log" >&2 || true
}

run_all_tests() {
  local preset reports=()
  for preset in "${TEST_PRESETS[@]}"; do
    run_preset_tests "$preset"
    reports+=("$preset=$ROOT/out/build/$preset/ctest.xml")
  done
  python3 "$ROOT/tests/ctest_summary.py" "${reports[@]}"
}
