#!/usr/bin/env bash
# Discovery on Wine's real registry.  For each sample machine: a fresh prefix,
# the machine's drive letters linked before the server starts, the 9x family
# switched on when the machine says so, the .reg file imported into the
# running server, then the live tests of machines_tests.exe for that machine
# (the real registry read back against the simulation, and discovery's
# answer); then brelvane-setup.exe /diagnose on that registry, and the file
# it writes replayed by brelvane-sim to the same answer.  Prints
# "PASS discovery.<machine>[.diagnose]" or "FAIL ...";
# exits non-zero when one fails.
set -u
ROOT=${ROOT:-$(cd "$(dirname "$0")/../.." && pwd)}
# shellcheck source=harness.sh
source "$ROOT/tests/wine/harness.sh"
# shellcheck source=scenario_lib.bash
source "$ROOT/tests/wine/scenario_lib.bash"
MINGW_DIR=${MINGW_DIR:-$ROOT/out/build/mingw}
EXE=$MINGW_DIR/tests/machines_tests.exe
SETUP_EXE=${SETUP_EXE:-$ROOT/out/win/brelvane-setup.exe}
# The simulation that replays a machine file (the release preset's build).
SIM=${SIM:-$ROOT/out/bin/brelvane-sim}
LOGS=$MINGW_DIR/wine-discovery
mkdir -p "$LOGS"

if [ ! -f "$EXE" ]; then
  scenario_fail "discovery (no $EXE)"
  scenario_exit
fi

setting() { sed -n "s/^; @$1[[:space:]]*//p" "$2" | tr -d '\r' | head -1; }

# The host folder behind a Windows directory of this prefix ("E:\setup").
host_dir_of() {
  local win=$1 letter rest
  letter=$(printf '%s' "${win:0:1}" | tr 'A-Z' 'a-z')
  rest=$(printf '%s' "${win:2}" | sed 's#\\#/#g')
  printf '%s%s' "$(readlink -f "$WINEPREFIX/dosdevices/$letter:")" "$rest"
}

run_machine() {
  local reg=$1 name drives family cwd d log
  name=$(basename "$reg" .reg)
  log=$LOGS/$name.log
  drives=$(setting drives "$reg")
  family=$(setting family "$reg")
  cwd=$(setting cwd "$reg")
  wine_prefix "discovery-$name"
  for d in $(printf '%s' "$drives" | tr ',' ' '); do
    [ "$d" = C ] || [ "$d" = c ] || wine_drive "$d" "$WINEPREFIX/drives/$d"
  done
  wine_start
  if [ "$family" = 9x ]; then
    printf 'REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Wine]\n"Version"="win98"\n' > "$WINEPREFIX/win98.reg"
    wine_import "$WINEPREFIX/win98.reg"
  fi
  wine_import "$reg"
  local dir
  dir=$(host_dir_of "${cwd:-C:\\}")
  mkdir -p "$dir"
  if (cd "$dir" && BRELVANE_LIVE_FIXTURE=$name "$WINE64" "$EXE" --gtest_filter='LiveMachine.*' \
        --gtest_brief=1) > "$log" 2>&1 && grep -q '^\[  PASSED  \] [1-9]' "$log"; then
    scenario_pass "discovery.$name"
  else
    scenario_fail "discovery.$name (see $log)"
    grep -E 'Failure|Expected|Which is|Value of|trace:|: ' "$log" | head -20 | sed 's/^/    /'
  fi
  diagnose_machine "$name" "$dir"
  wine_stop
}

# The answer line a machine file written by /diagnose ends with.
answer_of() { iconv -f UTF-16 -t UTF-8 "$1" 2> /dev/null | tr -d '\r' | grep '^; answer:'; }

# /diagnose on the real registry, then the file it wrote replayed by
# brelvane-sim: the same answer.
diagnose_machine() {
  local name=$1 dir=$2 written replayed first again
  written=$WINEPREFIX/drive_c/machine-$name.reg
  replayed=$LOGS/$name.replayed.reg
  rm -f "$written" "$replayed"
  (cd "$dir" && "$WINE64" "$SETUP_EXE" "/diagnose=C:\\machine-$name.reg") \
    > "$LOGS/$name.diagnose.log" 2>&1
  local code=$?
  cp "$written" "$LOGS/$name.diagnosed.reg" 2> /dev/null
  TMPDIR=$WINEPREFIX "$SIM" --machine "$written" "/diagnose=$replayed" \
    >> "$LOGS/$name.diagnose.log" 2>&1 < /dev/null
  first=$(answer_of "$written")
  again=$(answer_of "$replayed")
  if [ "$code" = 0 ] && [ -n "$first" ] && [ "$first" = "$again" ]; then
    scenario_pass "discovery.$name.diagnose"
  else
    scenario_fail "discovery.$name.diagnose (exit $code; \"$first\" replayed as \"$again\"; see $LOGS/$name.diagnose.log)"
  fi
}

for reg in "$ROOT"/samples/machines/*.reg; do
  run_machine "$reg"
done
scenario_exit
