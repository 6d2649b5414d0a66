# Wine harness: a template prefix made once per build folder, copied for each
# scenario; the scenario's own wineserver is started after the drive links and
# stopped (and the prefix removed) at the end.

# Wine maps the shared user data at a fixed address while it starts a
# process.  With the address space laid out at random, a 32-bit process now
# and then finds that address taken and ends with code 1 before the program
# runs ("failed to map the shared user data: c0000018", shown only when the
# err channel is on): measured here as about one x86 start in 3,000.  So the
# script runs again with randomisation off (a personality every child
# inherits, wineserver and every program alike), and Wine meets the same
# layout at every start.
# WINE_LAYOUT_FIXED marks the second run, so a system that accepts setarch -R
# but keeps randomising never loops.
ADDR_NO_RANDOMIZE=0x0040000
if (( (0x$(cat /proc/$$/personality) & ADDR_NO_RANDOMIZE) == 0 )); then
  if [ -z "${WINE_LAYOUT_FIXED:-}" ] && setarch "$(uname -m)" -R true 2> /dev/null; then
    export WINE_LAYOUT_FIXED=1
    exec setarch "$(uname -m)" -R "$BASH" "$0" "$@"
  fi
  echo "NOTE: randomisation cannot be switched off here; a Wine start may fail now and then" >&2
fi

WINE64=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver
WINE_WORK=${WINE_WORK:-$ROOT/out/build/wine}
WINE_TEMPLATE=$WINE_WORK/template

export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml="

# Builds the template prefix once: booted, windows unmanaged (dialogs close at
# once without a window manager), fonts copied in.
wine_template() {
  if [ -f "$WINE_TEMPLATE/.ready" ]; then return 0; fi
  mkdir -p "$WINE_WORK"
  # Several scripts may ask at once: one builds, the others wait.
  exec 9>"$WINE_WORK/template.lock"
  flock 9
  if [ -f "$WINE_TEMPLATE/.ready" ]; then exec 9>&-; return 0; fi
  rm -rf "$WINE_TEMPLATE"
  local reg="$WINE_WORK/template.reg"
  printf 'REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\n"Managed"="N"\n"Decorated"="Y"\n' > "$reg"
  (
    export WINEPREFIX=$WINE_TEMPLATE
    "$WINE64" wineboot -i >/dev/null 2>&1
    "$WINESERVER" -w
    "$WINE64" regedit /S "$(wine_winpath "$reg")" >/dev/null 2>&1
    "$WINESERVER" -w
    mkdir -p "$WINE_TEMPLATE/drive_c/windows/Fonts"
    cp /usr/share/wine/fonts/*.ttf "$WINE_TEMPLATE/drive_c/windows/Fonts/" 2>/dev/null || true
  )
  touch "$WINE_TEMPLATE/.ready"
  exec 9>&-
}

# A Linux path as the prefix's Z: drive sees it.
wine_winpath() { printf 'Z:%s' "$(printf '%s' "$1" | sed 's#/#\\#g')"; }

# wine_prefix NAME: a fresh copy of the template in $WINEPREFIX.
wine_prefix() {
  wine_template
  export WINEPREFIX=$WINE_WORK/prefix-$1-$$
  rm -rf "$WINEPREFIX"
  cp -a "$WINE_TEMPLATE" "$WINEPREFIX"
}

# wine_drive LETTER FOLDER: makes LETTER: present and map into FOLDER.
# Call before wine_start.
wine_drive() {
  local letter
  letter=$(printf '%s' "$1" | tr 'A-Z' 'a-z')
  mkdir -p "$2"
  ln -sfn "$2" "$WINEPREFIX/dosdevices/$letter:"
}

# wine_start: a persistent server for this prefix (the registry imports live
# as long as it does).
wine_start() {
  "$WINESERVER" -p
  "$WINE64" wineboot >/dev/null 2>&1 || true
}

# wine_import FILE.reg: imports a registry fixture into the running server.
wine_import() {
  "$WINE64" regedit /S "$(wine_winpath "$1")" >/dev/null 2>&1
}

# wine_stop: stops the server and removes the prefix.
wine_stop() {
  "$WINESERVER" -k >/dev/null 2>&1 || true
  "$WINESERVER" -w >/dev/null 2>&1 || true
  [ -n "${WINEPREFIX:-}" ] && rm -rf "$WINEPREFIX"
  unset WINEPREFIX
}

# The programs under test are x64 unless WINE_ARCH=x86 (the x86 preset).  A
# 32-bit Windows program runs under Wine's 32-bit loader, an i386 Linux
# program: on a machine whose kernel runs no 32-bit code (IA-32 emulation
# switched off, execve answers "Exec format error") nothing 32-bit can start,
# so a scenario of the x86 build ends here with ctest's skip code and the
# reason.  A missing loader is a failure (./run test installs wine32), unless
# ./run could not install it and said why.
WINE32_LOADER=/usr/lib/wine/wine
wine_require_arch() {
  [ "${WINE_ARCH:-x64}" = x86 ] || return 0
  if [ ! -f "$WINE32_LOADER" ]; then
    # ./run notes here when the package mirror could not serve wine32.
    local unavailable=$ROOT/out/i386-packages-unavailable.txt
    if [ -f "$unavailable" ]; then
      echo "SKIPPED: $WINE32_LOADER is missing, as ./run test could not install it: $(cat "$unavailable")"
      exit 77
    fi
    echo "FAIL: $WINE32_LOADER is missing: install wine32:i386 (./run test does)" >&2
    exit 1
  fi
  local said status=0
  said=$("$WINE32_LOADER" --version 2>&1) || status=$?
  [ "$status" -eq 0 ] && return 0
  if [ "$status" -eq 126 ]; then
    echo "SKIPPED: this machine runs no 32-bit code (its kernel refuses i386 programs:" \
         "$WINE32_LOADER: Exec format error), so the x86 build cannot run under Wine here"
    exit 77
  fi
  echo "FAIL: $WINE32_LOADER --version exited $status: $said" >&2
  exit 1
}
wine_require_arch
