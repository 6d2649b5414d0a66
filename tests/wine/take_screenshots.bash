#!/usr/bin/env bash
# Takes the screenshots of brelvane-setup.exe under Wine that
# docs/screenshots.md shows, into docs/screenshots/ (run by hand after a
# visible change; `./run test` does not run it).  Uses the same programs and
# helpers as the GUI scenarios.
set -u
ROOT=${ROOT:-$(cd "$(dirname "$0")/../.." && pwd)}
# shellcheck source=harness.sh
source "$ROOT/tests/wine/harness.sh"
# shellcheck source=gui_lib.bash
source "$ROOT/tests/wine/gui_lib.bash"
SHOTS=$ROOT/docs/screenshots
mkdir -p "$SHOTS"

gui_setup || exit 1
trap gui_teardown EXIT
MACHINES=$ROOT/samples/machines

PKG=$GUI_WORK/brelvane-setup.exe
cp "$PAYLOAD" "$GUI_WORK/Brelvane v1.0.exe"
cp "$SETUP_EXE" "$PKG"
printf 'Companion notes.\r\n' > "$GUI_WORK/readme.txt"
"$OEMPACK" add-predef "$PKG" --ovin "$PAYLOAD" >/dev/null
"$OEMPACK" add-predef "$PKG" --ovin "$GUI_WORK/readme.txt" --ovin-root 'docs' --ovin-attr hidden >/dev/null

shot() { winshot=$(wine_winpath "$GUI_WORK/$1.bmp"); printf '%s' "$winshot"; }

gui_begin shots-install "$MACHINES/ovin-e.reg" E
gui_run "$PKG" -- "wait-window $CAPTION" "sleep 500" "capture $(shot agreement)" \
  "click 1002" "wait-text 1020 Ready" "sleep 300" "capture $(shot install-ready)" \
  "click 1" "wait-box Installation Complete!" "capture-box $(shot completion)" "answer-box IDOK"
gui_end

# A box that names a file: the path on a line of its own.
gui_begin shots-in-use "$MACHINES/ovin-e.reg" E
printf 'the running utility' > "$GUI_DRIVE/Brelvane v1.0.exe"
gui_run "$PKG" -- "wait-window $CAPTION" "click 1002" "wait-text 1020 Ready" \
  "hold-open E:\\Brelvane v1.0.exe" "click 1" "wait-box is in use" "capture-box $(shot file-in-use)" \
  "answer-box IDOK" "wait-box Unable To Continue" "answer-box IDOK" "click 2" "wait-gone"
gui_end

# The agreement page on displays of 150 and 200 %.
for dpi in 144 192; do
  gui_begin "shots-$dpi" "$MACHINES/ovin-e.reg" E
  gui_dpi "$dpi"
  gui_run "$PKG" -- "wait-window $CAPTION" "sleep 500" "capture $(shot "agreement-${dpi}dpi")" \
    "click 2" "wait-gone"
  gui_end
done

TARGET=$GUI_WORK/installer.exe
cp "$SETUP_EXE" "$TARGET"
"$OEMPACK" add "$TARGET" "$GUI_WORK/readme.txt" >/dev/null
"$OEMPACK" add-predef "$TARGET" --kestrin "$PAYLOAD" --kestrin-root 'tools' --kestrin-attr ronly \
  --ovin "$PAYLOAD" --pellor "$GUI_WORK/readme.txt" --pellor-root 'docs' --pellor-attr rh >/dev/null
gui_begin shots-builder "$MACHINES/none.reg"
gui_run "$PKG" /oem -- "wait-window $CAPTION" "set-text 1016 $(wine_winpath "$TARGET")" \
  "set-text 1008 $(wine_winpath "$GUI_WORK/readme.txt")" "sleep 300" "capture $(shot builder-oem)" \
  "page 1" "set-text 1017 $(wine_winpath "$GUI_WORK/Brelvane v1.0.exe")" "set-text 1024 tools\\brelvane" \
  "set-text 1009 $(wine_winpath "$GUI_WORK/readme.txt")" "set-text 1025 docs" "combo-select 1029 2" \
  "sleep 300" "capture $(shot builder-predef)" "click 2" "wait-gone"
gui_end

for name in agreement install-ready completion file-in-use builder-oem builder-predef \
  agreement-144dpi agreement-192dpi; do
  if [ -f "$GUI_WORK/$name.bmp" ]; then
    convert "$GUI_WORK/$name.bmp" -strip "$SHOTS/$name.png" && echo "wrote docs/screenshots/$name.png"
  else
    echo "missing $name" >&2
  fi
done
