# Helpers of the GUI scenarios (sourced after harness.sh): a private X
# display, one prefix per scenario, the program and the UI driver started
# together, and PASS/FAIL checks on what the driver printed.
CAPTION="Quorvix Brelvane Installer v1.0"
GUI_PASSED=0
GUI_FAILED=0

# Programs, defaulting to the layout `./run test` builds.
SETUP_EXE=${SETUP_EXE:-$ROOT/out/win/brelvane-setup.exe}
UI_DRIVER=${UI_DRIVER:-$ROOT/out/build/mingw/tests/ui_driver.exe}
OEMPACK=${OEMPACK:-$ROOT/out/bin/oempack}
PAYLOAD=${PAYLOAD:-$ROOT/out/win/payload/Brelvane v1.0.exe}

gui_setup() {
  local missing=0 f
  for f in "$SETUP_EXE" "$UI_DRIVER" "$OEMPACK" "$PAYLOAD"; do
    [ -f "$f" ] || { echo "FAIL gui_setup_missing_$(basename "$f" | tr ' ' _)"; missing=1; }
  done
  [ "$missing" -eq 0 ] || return 1
  GUI_WORK=$(mktemp -d /tmp/brelvane-gui-XXXXXX)
  # Xvfb takes the first free display itself and names it once it accepts
  # connections: two scripts that started together and each picked the
  # first display without a lock file would share one server, and the first
  # to finish would take it away from the other's programs.  Room for the
  # sheet at 200 %.
  local display=$GUI_WORK/display i
  Xvfb -displayfd 3 -screen 0 1600x1200x24 -nolisten tcp 3> "$display" >/dev/null 2>&1 &
  GUI_XVFB=$!
  for ((i = 0; i < 300; i++)); do
    [ -s "$display" ] && break
    sleep 0.1
  done
  if [ ! -s "$display" ]; then
    echo "FAIL gui_setup_display (Xvfb named no display within 30 s)"
    kill "$GUI_XVFB" 2>/dev/null
    return 1
  fi
  export DISPLAY=":$(tr -d '\n' < "$display")"
  wine_template
}

gui_teardown() {
  [ -n "${WINEPREFIX:-}" ] && wine_stop
  [ -n "${GUI_XVFB:-}" ] && kill "$GUI_XVFB" 2>/dev/null && wait "$GUI_XVFB" 2>/dev/null
  [ -n "${GUI_WORK:-}" ] && { chmod -R u+w "$GUI_WORK" 2>/dev/null; rm -rf "$GUI_WORK"; }
}

# gui_begin NAME FIXTURE.reg [LETTER [OTHER...]]: a fresh prefix with the
# fixture imported; with LETTER, that drive maps to the empty folder
# $GUI_DRIVE, and each OTHER letter to the empty folder $GUI_DRIVE-OTHER.
gui_begin() {
  GUI_NAME=$1
  GUI_DRIVE=$GUI_WORK/drive-$1
  rm -rf "$GUI_DRIVE" "$GUI_DRIVE"-*
  mkdir -p "$GUI_DRIVE"
  wine_prefix "gui-$1"
  [ -n "${3:-}" ] && wine_drive "$3" "$GUI_DRIVE"
  local other
  for other in "${@:4}"; do wine_drive "$other" "$GUI_DRIVE-$other"; done
  wine_start
  wine_import "$2"
}

# gui_dpi DPI: the display's dots per inch for programs started from now on.
gui_dpi() {
  "$WINE64" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null 2>&1
}

gui_end() {
  wine_stop
}

# gui_run PACKAGE [ARGUMENTS...] -- DRIVER COMMANDS...: starts the package and
# the driver from this shell; GUI_OUT names the driver's output, GUI_CODE is
# the package's exit code (124 when it had to be killed).
gui_run() {
  local package=$1 args=()
  shift
  while [ $# -gt 0 ] && [ "$1" != -- ]; do args+=("$1"); shift; done
  shift
  GUI_OUT=$GUI_WORK/$GUI_NAME.out
  "$WINE64" "$package" "${args[@]}" >/dev/null 2>&1 &
  local pid=$!
  "$WINE64" "$UI_DRIVER" "$@" > "$GUI_OUT" 2>&1
  local status=$?
  tr -d '\r' < "$GUI_OUT" > "$GUI_OUT.tmp" && mv "$GUI_OUT.tmp" "$GUI_OUT"
  # A driver that ends badly without a word of its own says how it ended.
  [ "$status" -eq 0 ] || grep -q '^ERROR' "$GUI_OUT" ||
    echo "(the driver's wine ended with $status and no ERROR line)" >> "$GUI_OUT"
  local i
  for ((i = 0; i < 100; i++)); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$pid" 2>/dev/null; then
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    GUI_CODE=124
  else
    wait "$pid"
    GUI_CODE=$?
  fi
}

# on_handshake NAME COMMAND...: once the driver's step "handshake NAME"
# waits, runs the command and lets the driver go on.  Run it in the
# background before gui_run.
on_handshake() {
  local marker=$WINEPREFIX/drive_c/handshake-$1 i
  shift
  for ((i = 0; i < 1200; i++)); do
    [ -e "$marker" ] && { "$@"; rm -f "$marker"; return; }
    sleep 0.05
  done
}

gui_pass() { echo "PASS $1"; GUI_PASSED=$((GUI_PASSED + 1)); }
gui_fail() {
  echo "FAIL $1"
  GUI_FAILED=$((GUI_FAILED + 1))
  [ -f "${GUI_OUT:-}" ] && sed 's/^/    | /' "$GUI_OUT"
}

# check NAME COMMAND...: PASS when the command succeeds.
check() {
  local name=$1
  shift
  if "$@"; then gui_pass "$name"; else gui_fail "$name"; fi
}

# expect_line NAME LINE [N]: the driver printed LINE; with N, the N-th line
# that starts with LINE's first word is LINE.
expect_line() {
  local found
  if [ -n "${3:-}" ]; then
    found=$(grep -F -- "${2%% *}" "$GUI_OUT" | grep -E "^${2%% *}( |$)" | sed -n "${3}p")
    [ "$found" = "$2" ] && gui_pass "$1" || gui_fail "$1"
  else
    grep -qxF -- "$2" "$GUI_OUT" && gui_pass "$1" || gui_fail "$1"
  fi
}

# expect_count NAME LINE COUNT: the driver printed LINE exactly COUNT times.
expect_count() {
  local count
  count=$(grep -cxF -- "$2" "$GUI_OUT")
  [ "$count" -eq "$3" ] && gui_pass "$1" || gui_fail "$1 (saw $count)"
}

expect_code() {
  [ "$GUI_CODE" -eq "$2" ] && gui_pass "$1" || gui_fail "$1 (exit code $GUI_CODE)"
}

# True when Wine keeps the hidden attribute for the file.
is_hidden() {
  local value
  value=$(getfattr --only-values -n user.DOSATTRIB "$1" 2>/dev/null | tr -d '\0')
  [ -n "$value" ] && [ $(( value & 0x2 )) -ne 0 ]
}

# widens_by NARROW WIDE PIXELS: both widths were read and differ by PIXELS.
widens_by() { [ -n "$1" ] && [ -n "$2" ] && [ $(( $2 - $1 )) -eq "$3" ]; }

# Wine keeps read-only as the lack of every write permission bit.
no_write_bits() { [ $(( 0$(stat -c %a "$1") & 0222 )) -eq 0 ]; }

# gui_summary: the counts; non-zero when a check failed or none passed (the
# script's exit code, so ctest sees a failed check).
gui_summary() {
  echo "gui: $GUI_PASSED passed, $GUI_FAILED failed"
  [ "$GUI_FAILED" -eq 0 ] && [ "$GUI_PASSED" -gt 0 ]
}
