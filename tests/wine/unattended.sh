#!/usr/bin/env bash
# The unattended install of brelvane-setup.exe under Wine: the program is
# started by the UI driver, which watches every top-level window of its
# process until it exits and gives its exit code; the drive folder and the
# log are checked afterwards.  Prints PASS/FAIL lines; exits non-zero when
# one fails.
set -u
ROOT=${ROOT:-$(cd "$(dirname "$0")/../.." && pwd)}
# shellcheck source=harness.sh
source "$ROOT/tests/wine/harness.sh"
# shellcheck source=gui_lib.bash
source "$ROOT/tests/wine/gui_lib.bash"

gui_setup || exit 1
trap gui_teardown EXIT

MACHINES=$ROOT/samples/machines
UTILITY="Brelvane v1.0.exe"
SET_PKG=$GUI_WORK/with-set.exe
cp "$SETUP_EXE" "$SET_PKG"
"$OEMPACK" add-predef "$SET_PKG" --ovin "$PAYLOAD" >/dev/null
DAMAGED_PKG=$GUI_WORK/damaged.exe
cp "$SET_PKG" "$DAMAGED_PKG"
python3 -c 'import sys; f=open(sys.argv[1],"r+b"); f.seek(-661,2); b=f.read(1); f.seek(-661,2); f.write(bytes([b[0]^1]))' \
  "$DAMAGED_PKG"
SIZE=$(stat -c %s "$PAYLOAD")

# watch PACKAGE SWITCHES...: the driver starts the package with the switches
# and reports its windows and its exit code (GUI_CODE).
watch() {
  local package
  package=$(wine_winpath "$1")
  shift
  GUI_OUT=$GUI_WORK/$GUI_NAME.out
  "$WINE64" "$UI_DRIVER" "run-watch \"$package\" $*" > "$GUI_OUT" 2>&1
  local status=$?
  tr -d '\r' < "$GUI_OUT" > "$GUI_OUT.tmp" && mv "$GUI_OUT.tmp" "$GUI_OUT"
  GUI_CODE=$(sed -n 's/^EXIT //p' "$GUI_OUT")
  [ -n "$GUI_CODE" ] || echo "(no EXIT line: the driver's wine ended with $status)" >> "$GUI_OUT"
  GUI_CODE=${GUI_CODE:-125}
}
no_window() { ! grep -q '^WINDOW' "$GUI_OUT"; }
logged() { tr -d '\r' < "$1" | grep -qF -- "$2"; }
empty_dir() { [ -z "$(ls -A "$1")" ]; }

scenario_silent_install() {
  gui_begin silent "$MACHINES/win11-ovin-e.reg" E
  local log=$GUI_WORK/silent.log
  watch "$SET_PKG" /silent /accept "/log=$(wine_winpath "$log")"
  expect_code silent_exit_code 0
  check silent_no_window no_window
  check silent_utility_bytes cmp -s "$PAYLOAD" "$GUI_DRIVE/$UTILITY"
  check silent_log_stamped grep -qE '^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2} brelvane-setup 1.0: /silent /accept /log=' "$log"
  check silent_log_drive logged "$log" "drive E: found, model Ovin"
  check silent_log_file logged "$log" "written E:\\$UTILITY ($SIZE bytes)"
  check silent_log_notice logged "$log" "Installation Complete! -> OK"
  check silent_log_result logged "$log" "result: the module set is installed; exit code 0"
  check silent_nothing_started [ ! -e "$GUI_DRIVE/brelvane-started.txt" ]
  gui_end
}

# An existing utility on the drive: /overwrite=ANSWER keeps or replaces it.
scenario_overwrite() {
  gui_begin "overwrite-$1" "$MACHINES/win11-ovin-e.reg" E
  local log=$GUI_WORK/overwrite-$1.log
  printf 'kept' > "$GUI_DRIVE/$UTILITY"
  watch "$SET_PKG" -SILENT -Accept "/overwrite=$1" "/log=$(wine_winpath "$log")"
  # A kept file that differs from the set is no installed set: 10.
  expect_code "overwrite_$1_exit_code" "$([ "$1" = yes ] && echo 0 || echo 10)"
  check "overwrite_$1_no_window" no_window
  if [ "$1" = yes ]; then
    check overwrite_yes_replaced cmp -s "$PAYLOAD" "$GUI_DRIVE/$UTILITY"
    check overwrite_yes_logged logged "$log" "Delete this file before Installing? -> Yes"
  else
    check overwrite_no_kept [ "$(cat "$GUI_DRIVE/$UTILITY")" = kept ]
    check overwrite_no_logged logged "$log" "skipped E:\\$UTILITY ($SIZE bytes): the file there is kept"
  fi
  gui_end
}

scenario_help() {
  gui_begin help "$MACHINES/win11-ovin-e.reg" E
  watch "$SET_PKG" "/?"
  expect_code help_exit_code 0
  check help_no_window no_window
  check help_lists_the_exit_codes grep -qF "8  /verify: the package fails verification" "$GUI_OUT"
  check help_installs_nothing empty_dir "$GUI_DRIVE"
  gui_end
}

# refused NAME TEXT SWITCHES...: code 1, no window, TEXT said, nothing
# installed.
scenario_refused() {
  local name=$1 text=$2
  shift 2
  gui_begin "$name" "$MACHINES/win11-ovin-e.reg" E
  watch "$SET_PKG" "$@"
  expect_code "${name}_exit_code" 1
  check "${name}_no_window" no_window
  check "${name}_named" grep -qF -- "$text" "$GUI_OUT"
  check "${name}_installs_nothing" empty_dir "$GUI_DRIVE"
  gui_end
}

# verify NAME PACKAGE CODE LINE
scenario_verify() {
  gui_begin "verify-$1" "$MACHINES/win11-ovin-e.reg" E
  watch "$2" /verify /silent "/log=$(wine_winpath "$GUI_WORK/verify-$1.log")"
  expect_code "verify_$1_exit_code" "$3"
  check "verify_$1_no_window" no_window
  check "verify_$1_said" grep -qF "$4" "$GUI_OUT"
  check "verify_$1_logged" logged "$GUI_WORK/verify-$1.log" "$4"
  check "verify_$1_installs_nothing" empty_dir "$GUI_DRIVE"
  gui_end
}

# A read-only utility on a nearly full drive (a 4 MiB tmpfs): a module of
# its size fits only in its place.  fits: replaced in place, its copy kept in
# the temporary folder meanwhile and then removed; damaged: the module fails
# its check before anything is written, and the utility stays as it was.
# Mounting needs root.
ROOM_PKG=$GUI_WORK/room.exe
ROOM_PAYLOAD=$GUI_WORK/room-payload/$UTILITY
mkdir -p "$GUI_WORK/room-payload"
head -c $((3 << 20)) /dev/urandom > "$ROOM_PAYLOAD"
cp "$SETUP_EXE" "$ROOM_PKG"
"$OEMPACK" add-predef "$ROOM_PKG" --ovin "$ROOM_PAYLOAD" >/dev/null
cp "$ROOM_PKG" "$GUI_WORK/room-damaged.exe"
python3 -c 'import sys; f=open(sys.argv[1],"r+b"); f.seek(-700,2); b=f.read(1); f.seek(-700,2); f.write(bytes([b[0]^1]))' \
  "$GUI_WORK/room-damaged.exe"
scenario_nearly_full() {
  gui_begin "room-$1" "$MACHINES/win11-ovin-e.reg" E
  if [ "$(id -u)" -ne 0 ] || ! mount -t tmpfs -o size=4m brelvane-room "$GUI_DRIVE" 2>/dev/null; then
    echo "SKIP room_$1: cannot mount a tmpfs as the drive (needs root)"
    gui_end
    return
  fi
  local log=$GUI_WORK/room-$1.log package=$ROOM_PKG
  [ "$1" = damaged ] && package=$GUI_WORK/room-damaged.exe
  head -c $((3 << 20)) /dev/urandom > "$GUI_DRIVE/$UTILITY"
  chmod 444 "$GUI_DRIVE/$UTILITY"
  cp -p "$GUI_DRIVE/$UTILITY" "$GUI_WORK/room-old"
  watch "$package" /silent /accept /overwrite=yes "/log=$(wine_winpath "$log")"
  if [ "$1" = fits ]; then
    check room_fits_told logged "$log" "and then replaced in place"
    expect_code room_fits_exit_code 0
    check room_fits_replaced cmp -s "$ROOM_PAYLOAD" "$GUI_DRIVE/$UTILITY"
    check room_fits_copy_was_in_temp logged "$log" "\\Temp\\kept-1-$UTILITY"
  else
    check room_damaged_told logged "$log" "is damaged"
    expect_code room_damaged_exit_code 6
    check room_damaged_untouched cmp -s "$GUI_WORK/room-old" "$GUI_DRIVE/$UTILITY"
    # Read-only under Wine: no write bit (Wine makes a program executable).
    check room_damaged_read_only [ -z "$(find "$GUI_DRIVE/$UTILITY" -perm /222)" ]
  fi
  check "room_$1_copy_removed" [ -z "$(find "$WINEPREFIX/drive_c" -name 'kept-*')" ]
  umount "$GUI_DRIVE"
  gui_end
}

# A drive mounted read-only (a read-only bind mount of the drive's folder):
# refused before anything is written, with a code of its own.  Wine reports
# neither the volume's read-only flag nor the write-protect error (19) for
# such a mount: its create fails with "access denied" (5), which the run
# names as a denied drive (13).  The write-protect road (the volume's flag,
# error 19) runs under Wine in the unattended_tests rows.  Mounting needs
# root.
scenario_write_protected() {
  gui_begin write-protected "$MACHINES/win11-ovin-e.reg" E
  if [ "$(id -u)" -ne 0 ] || ! mount --bind "$GUI_DRIVE" "$GUI_DRIVE" 2>/dev/null; then
    echo "SKIP write_protected: cannot mount the drive's folder read-only (needs root)"
    gui_end
    return
  fi
  if ! mount -o remount,ro,bind "$GUI_DRIVE" 2>/dev/null; then
    umount "$GUI_DRIVE"
    echo "SKIP write_protected: this machine does not remount a bind mount read-only"
    gui_end
    return
  fi
  local log=$GUI_WORK/write-protected.log
  watch "$SET_PKG" /silent /accept "/log=$(wine_winpath "$log")"
  expect_code write_protected_exit_code 13
  check write_protected_named logged "$log" "Writing on drive E: is denied"
  umount "$GUI_DRIVE"
  check write_protected_nothing_written empty_dir "$GUI_DRIVE"
  gui_end
}

# A real exFAT volume as drive E: (mkfs.exfat on a loop device, exfat-fuse):
# the set installs, a changed file is replaced, and a run over the
# installed set leaves it alone without a question.  Needs root, a loop
# device and FUSE.
scenario_exfat() {
  gui_begin exfat "$MACHINES/win11-ovin-e.reg" E
  local image=$GUI_WORK/exfat.img loop log=$GUI_WORK/exfat.log
  truncate -s 16M "$image"
  if [ "$(id -u)" -ne 0 ] || ! mkfs.exfat "$image" >/dev/null 2>&1 ||
     ! loop=$(losetup -f --show "$image" 2>/dev/null); then
    echo "SKIP exfat: cannot make an exFAT volume on a loop device (needs root and exfatprogs)"
    gui_end
    return
  fi
  if ! mount.exfat-fuse "$loop" "$GUI_DRIVE" >/dev/null 2>&1; then
    losetup -d "$loop"
    echo "SKIP exfat: exfat-fuse cannot mount here"
    gui_end
    return
  fi
  watch "$SET_PKG" /silent /accept "/log=$(wine_winpath "$log")"
  expect_code exfat_install_exit_code 0
  check exfat_utility_bytes cmp -s "$PAYLOAD" "$GUI_DRIVE/$UTILITY"
  printf 'changed' > "$GUI_DRIVE/$UTILITY"
  watch "$SET_PKG" /silent /accept /overwrite=yes "/log=$(wine_winpath "$log")"
  expect_code exfat_replace_exit_code 0
  check exfat_replaced cmp -s "$PAYLOAD" "$GUI_DRIVE/$UTILITY"
  watch "$SET_PKG" /silent /accept "/log=$(wine_winpath "$log")"
  expect_code exfat_again_exit_code 0
  check exfat_identical_left_alone logged "$log" "unchanged E:\\$UTILITY ($SIZE bytes)"
  check exfat_no_leftover [ -z "$(find "$GUI_DRIVE" -name '~BV*')" ]
  umount "$GUI_DRIVE"
  losetup -d "$loop"
  gui_end
}

scenario_silent_install
scenario_write_protected
scenario_exfat
scenario_overwrite no
scenario_overwrite yes
scenario_help
scenario_refused unknown_switch "/quiet: unknown switch" /silent /quiet
# The builder's switch beside an unattended one never opens its window.
scenario_refused oem_after "/oem: /oem opens the builder" /silent /accept /oem
scenario_refused oem_before "-OEM: /oem opens the builder" -OEM /verify
scenario_verify sound "$SET_PKG" 0 "1 module(s), 1 checked and sound, 0 without a check; not signed"
scenario_verify damaged "$DAMAGED_PKG" 8 "is damaged: its content does not match its check"
scenario_nearly_full fits
scenario_nearly_full damaged
gui_summary
