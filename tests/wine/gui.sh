#!/usr/bin/env bash
# End-to-end scenarios of brelvane-setup.exe under Wine: each scenario gets a
# fresh prefix with a sample machine imported and E: linked to a temporary
# folder, starts the program and the UI driver, and prints PASS/FAIL lines;
# exits non-zero when one fails.
#
# Programs (defaults: the layout that `./run test` builds):
#   SETUP_EXE  brelvane-setup.exe        UI_DRIVER  ui_driver.exe
#   OEMPACK    native oempack            PAYLOAD    the sample "Brelvane v1.0.exe"
# GUI_ONLY="dpi install ..." runs only the scenarios named.
set -u
ROOT=${ROOT:-$(cd "$(dirname "$0")/../.." && pwd)}
# shellcheck source=harness.sh
source "$ROOT/tests/wine/harness.sh"
# shellcheck source=gui_lib.bash
source "$ROOT/tests/wine/gui_lib.bash"

gui_setup || exit 1
trap gui_teardown EXIT

MACHINES=$ROOT/samples/machines

# ---- Packages ----------------------------------------------------------------
BARE=$GUI_WORK/bare.exe
cp "$SETUP_EXE" "$BARE"
# The Ovin set: the utility in the root (read-only), a companion two levels
# down (hidden).  Installed newest first; the utility is started at the end.
printf 'Companion notes of the Brelvane sample set.\r\n' > "$GUI_WORK/companion.txt"
SET_PKG=$GUI_WORK/with-set.exe
cp "$SETUP_EXE" "$SET_PKG"
"$OEMPACK" add-predef "$SET_PKG" --ovin "$PAYLOAD" --ovin-attr ronly >/dev/null
"$OEMPACK" add-predef "$SET_PKG" --ovin "$GUI_WORK/companion.txt" --ovin-root 'docs\notes' \
  --ovin-attr hidden >/dev/null
UTILITY="Brelvane v1.0.exe"
# The same set, signed with a throwaway self-signed certificate.
SIGNED_PKG=$GUI_WORK/signed.exe
openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj "/CN=Brelvane test signer" \
  -keyout "$GUI_WORK/key.pem" -out "$GUI_WORK/cert.pem" >/dev/null 2>&1 &&
  osslsigncode sign -certs "$GUI_WORK/cert.pem" -key "$GUI_WORK/key.pem" \
    -in "$SET_PKG" -out "$SIGNED_PKG" >/dev/null 2>&1

# ---- Scenarios -----------------------------------------------------------------

scenario_decline() {
  gui_begin decline "$MACHINES/ovin-e.reg" E
  gui_run "$BARE" -- "wait-window $CAPTION" "key alt+b" "wait-box $CAPTION" "box-text 1029" \
    "answer-box IDOK" \
    "click 1003" "wait-box Good Bye!" "answer-box IDOK"
  check about_box_caption grep -q "^BOX caption=$CAPTION " "$GUI_OUT"
  expect_line about_box_product_line "BOXTEXT $CAPTION"
  expect_line decline_says_good_bye "BOX caption=bare text=Good Bye!"
  expect_code decline_exit_code 0
  gui_end
}

# Accept, then the install page for one machine and package; prints the
# driver's view of the page.
accept_and_read() {
  gui_run "$1" -- "wait-window $CAPTION" "page-count" "tab-style" "visible 1" "click 1002" \
    "page-count" "current-page" "text 1004" "visible 1005" "text 1005" "visible 1020" "text 1020" \
    "visible 1006" "visible 1" "text 1" "rect" "page 0" "visible 1" "click 1002" "current-page" \
    "page-count" "click 2" "wait-gone"
}

scenario_no_drive() {
  gui_begin no-drive "$MACHINES/none.reg"
  accept_and_read "$BARE"
  expect_line no_drive_one_page_before_accept "PAGES 1" 1
  expect_line no_drive_tabs_at_the_bottom "TABS bottom"
  expect_line no_drive_install_hidden_on_agreement "VISIBLE 0" 1
  expect_line no_drive_two_pages_after_accept "PAGES 2" 2
  expect_line no_drive_install_page_active "CURRENT 1" 1
  expect_line no_drive_accepting_again_stays "CURRENT 0" 2
  expect_line no_drive_still_two_pages "PAGES 2" 3
  expect_line no_drive_plugged_in_line "TEXT Drive Mivora Plugged-in: NO MIVORA!"
  expect_count no_drive_lines_and_button_hidden "VISIBLE 0" 6
  NO_DRIVE_WIDTH=$(sed -n 's/^RECT \([0-9]*\)x.*/\1/p' "$GUI_OUT")
  expect_code no_drive_cancel_exit_code 0
  gui_end
}

scenario_ovin_without_set() {
  gui_begin ovin-no-set "$MACHINES/ovin-e.reg" E
  accept_and_read "$BARE"
  expect_line ovin_no_set_plugged_in_line "TEXT Drive Mivora Plugged-in: E"
  expect_line ovin_no_set_module_line "TEXT Brelvane is NOT included!"
  expect_line ovin_no_set_supported_line_empty "TEXT " 2
  expect_count ovin_no_set_lines_shown "VISIBLE 1" 2
  expect_count ovin_no_set_check_and_button_hidden "VISIBLE 0" 4
  local width
  width=$(sed -n 's/^RECT \([0-9]*\)x.*/\1/p' "$GUI_OUT")
  check ovin_side_picture_widens_by_284 widens_by "${NO_DRIVE_WIDTH:-}" "$width" 284
  gui_end
}

scenario_install() {
  gui_begin install "$MACHINES/ovin-e.reg" E
  gui_run "$SET_PKG" -- "wait-window $CAPTION" "click 1002" "wait-text 1020 Ready" "visible 1006" \
    "background 1004" "background 1020" \
    "visible 1" "text 1" "click 1" "wait-box Installation Complete!" "placement" "answer-box IDOK" \
    "wait-gone"
  expect_line install_ready_line "TEXT Ready to INSTALL!"
  # The status lines keep their colours in a scheme without high contrast.
  expect_line install_plugged_in_line_colours "BACKGROUND 1004 active-border"
  expect_line install_ready_line_colours "BACKGROUND 1020 active-border"
  check install_sheet_centred grep -q "^CENTRED 1 " "$GUI_OUT"
  expect_line install_box_over_the_sheet "BOX-OVER-SHEET 1"
  expect_count install_check_and_button_shown "VISIBLE 1" 2
  expect_line install_button_caption "TEXT  &Install "
  expect_line install_completion_notice \
    'BOX caption=with-set text=Thank you for using Quorvix product!\r\nInstallation Complete!'
  expect_code install_exit_code 0
  check install_utility_bytes cmp -s "$PAYLOAD" "$GUI_DRIVE/$UTILITY"
  check install_companion_bytes cmp -s "$GUI_WORK/companion.txt" "$GUI_DRIVE/docs/notes/companion.txt"
  check install_utility_read_only no_write_bits "$GUI_DRIVE/$UTILITY"
  check install_companion_hidden is_hidden "$GUI_DRIVE/docs/notes/companion.txt"
  check install_nothing_started_unticked [ ! -e "$GUI_DRIVE/brelvane-started.txt" ]
  gui_end
}

# By keyboard alone: Tab to the radio pair and arrows through it neither
# accept nor decline; Space accepts, the focus moves into the install page,
# and Alt+I installs.
scenario_keyboard() {
  gui_begin keyboard "$MACHINES/ovin-e.reg" E
  gui_run "$SET_PKG" -- "wait-window $CAPTION" "focus" "key tab" "key down" "key right" "key down" \
    "no-box 1" "page-count" "checked 1003" "key up" "key space" "wait-text 1020 Ready" "focus" \
    "key down" "no-box 1" "current-page" "key alt+i" "wait-box Installation Complete!" \
    "answer-box IDOK" "wait-gone"
  expect_line keyboard_focus_shown_at_start "FOCUS id=1000 shown=1 in-page=1"
  expect_line keyboard_arrows_end_nothing "PAGES 1"
  expect_line keyboard_arrows_select_decline "CHECKED 1"
  expect_line keyboard_focus_in_install_page "FOCUS id=1006 shown=1 in-page=1"
  expect_line keyboard_down_stays_on_install_page "CURRENT 1"
  expect_code keyboard_exit_code 0
  check keyboard_install_utility_bytes cmp -s "$PAYLOAD" "$GUI_DRIVE/$UTILITY"
  gui_end
}

# A drive plugged in while the page says "NO MIVORA!": the system writes its
# entries and announces the volume; the page finds it without a restart.
scenario_drive_arrives() {
  gui_begin drive-arrives "$MACHINES/none.reg" E
  gui_run "$SET_PKG" -- "wait-window $CAPTION" "click 1002" "wait-text 1004 NO MIVORA" \
    "run-watch regedit /S $(wine_winpath "$MACHINES/ovin-e.reg")" "device-arrival E" \
    "wait-text 1020 Ready 5" "text 1004" "visible 1" "click 2" "wait-gone"
  expect_line arrival_finds_the_drive "TEXT Drive Mivora Plugged-in: E"
  expect_line arrival_offers_install "VISIBLE 1"
  gui_end
}

# A second copy while the sheet shows: it opens no window of its own and
# ends with 0 (the first is brought to the front); unattended it ends with 9
# and writes nothing.
scenario_second_copy() {
  gui_begin second-copy "$MACHINES/ovin-e.reg" E
  local second
  second=$(wine_winpath "$SET_PKG")
  gui_run "$SET_PKG" -- "wait-window $CAPTION" "run-watch $second" \
    "run-watch $second /silent /accept" "page-count" "click 2" "wait-gone"
  expect_line second_copy_ends "EXIT 0"
  expect_line second_copy_unattended_refused "EXIT 9"
  check second_copy_opens_no_window bash -c "! grep -q '^WINDOW .*visible=1' '$GUI_OUT'"
  check second_copy_writes_nothing [ -z "$(ls -A "$GUI_DRIVE")" ]
  expect_line second_copy_first_still_shows "PAGES 1"
  gui_end
}

# Another program holds the name the installer's one-copy guard takes, and
# no installer window is there to bring forward: the installer says so in a
# box and ends with 9, never silently with 0.
scenario_guard_held() {
  gui_begin guard-held "$MACHINES/ovin-e.reg" E
  GUI_OUT=$GUI_WORK/$GUI_NAME.out
  "$WINE64" "$UI_DRIVER" "hold-name Global\\Quorvix Brelvane Installer" \
    "run-answer $(wine_winpath "$SET_PKG")" > "$GUI_OUT" 2>&1
  tr -d '\r' < "$GUI_OUT" > "$GUI_OUT.tmp" && mv "$GUI_OUT.tmp" "$GUI_OUT"
  expect_line guard_held_ends_with_9 "EXIT 9"
  check guard_held_says_why grep -qF "text=Another copy of the installer seems to be running" "$GUI_OUT"
  check guard_held_writes_nothing [ -z "$(ls -A "$GUI_DRIVE")" ]
  gui_end
}

# The registry as Windows 10 and 11 write it (no ParentIdPrefix, the volume's
# mount entry holding the disk's device path), in Wine's real registry: the
# page names E and the set lands there.
scenario_install_windows_10_11() {
  gui_begin install-win10-11 "$MACHINES/win11-ovin-e.reg" E
  gui_run "$SET_PKG" -- "wait-window $CAPTION" "click 1002" "wait-text 1020 Ready" "text 1004" \
    "click 1" "wait-box Installation Complete!" "answer-box IDOK" "wait-gone"
  expect_line win10_11_drive_found "TEXT Drive Mivora Plugged-in: E"
  expect_code win10_11_exit_code 0
  check win10_11_utility_bytes cmp -s "$PAYLOAD" "$GUI_DRIVE/$UTILITY"
  check win10_11_companion_bytes cmp -s "$GUI_WORK/companion.txt" "$GUI_DRIVE/docs/notes/companion.txt"
  gui_end
}

# The fixed-disk forms in Wine's real registry.  Wine's storage stack names
# no disk, so the registry decides: the UAS drive's MBR entry and the first of
# two partitions are found and get the set, while a GPT entry and an entry in
# no known form leave "NO MIVORA!", and so does a stick imaged from the
# drive, with the page's reason.  No other letter is written.
scenario_fixed_disk_forms() {
  local form fixture letter first others d
  for form in win10-uas-e:E win10-two-partitions:F win10-gpt-e:none win10-unknown-form:none \
      win10-cloned-stick:look-alike; do
    fixture=${form%:*} letter=${form#*:}
    read -r -a others <<< "$(sed -n 's/^; @drives //p' "$MACHINES/$fixture.reg" | tr -d '\r')"
    if [ "$letter" = none ] || [ "$letter" = look-alike ]; then
      first=${others[0]} others=("${others[@]:1}")
      gui_begin "$fixture" "$MACHINES/$fixture.reg" "$first" "${others[@]}"
      gui_run "$BARE" -- "wait-window $CAPTION" "click 1002" "text 1004" "text 1005" "click 2" \
        "wait-gone"
      expect_line "${fixture}_no_drive" "TEXT Drive Mivora Plugged-in: NO MIVORA!"
      [ "$letter" = none ] ||
        expect_line "${fixture}_says_why" \
          "TEXT Two drives look the same: unplug the one that is not the Mivora drive."
      check "${fixture}_nothing_written" \
        [ -z "$(find "$GUI_DRIVE" "${others[@]/#/$GUI_DRIVE-}" -mindepth 1)" ]
    else
      others=("${others[@]/$letter/}")
      gui_begin "$fixture" "$MACHINES/$fixture.reg" "$letter" ${others[@]}
      gui_run "$SET_PKG" -- "wait-window $CAPTION" "click 1002" "wait-text 1020 Ready" "text 1004" \
        "click 1" "wait-box Installation Complete!" "answer-box IDOK" "wait-gone"
      expect_line "${fixture}_drive_found" "TEXT Drive Mivora Plugged-in: $letter"
      check "${fixture}_utility_bytes" cmp -s "$PAYLOAD" "$GUI_DRIVE/$UTILITY"
      for d in ${others[@]}; do
        check "${fixture}_nothing_on_$d" [ -z "$(ls -A "$GUI_DRIVE-$d")" ]
      done
    fi
    expect_code "${fixture}_exit_code" 0
    gui_end
  done
}

# Enter on the install page while " Install " is hidden (the drive carries
# no set for its model) starts nothing: no run, no message, nothing written.
scenario_enter_while_hidden() {
  gui_begin enter-hidden "$MACHINES/ovin-e.reg" E
  gui_run "$BARE" -- "wait-window $CAPTION" "click 1002" "wait-text 1020 NOT" "visible 1" "enter" \
    "no-box 2" "window-exists $CAPTION" "click 2" "wait-gone"
  expect_line enter_hidden_button_hidden "VISIBLE 0"
  expect_line enter_hidden_no_run "NO-BOX"
  expect_line enter_hidden_sheet_stays "EXISTS 1"
  check enter_hidden_nothing_written [ -z "$(ls -A "$GUI_DRIVE")" ]
  gui_end
}

# The 9x family: the prefix reports Windows 98 and the drive comes from the
# 9x registry (imported in the same server lifetime).  Drive F is found, the
# set installs, and the launch box stays hidden, as that family never starts
# the utility.
scenario_nine_x() {
  gui_begin nine-x "$MACHINES/ovin-9x-f.reg" F
  "$WINE64" reg add 'HKCU\Software\Wine' /v Version /d win98 /f >/dev/null 2>&1
  gui_run "$SET_PKG" -- "wait-window $CAPTION" "click 1002" "wait-text 1020 Ready" "visible 1006" \
    "text 1004" "click 1" "wait-box Installation Complete!" "answer-box IDOK" "wait-gone"
  expect_line nine_x_ready_line "TEXT Ready to INSTALL!"
  expect_line nine_x_drive_found "TEXT Drive Mivora Plugged-in: F"
  expect_line nine_x_launch_box_hidden "VISIBLE 0"
  expect_code nine_x_exit_code 0
  check nine_x_utility_bytes cmp -s "$PAYLOAD" "$GUI_DRIVE/$UTILITY"
  gui_end
}

# The signed installer finds its modules before the certificate table.
scenario_install_signed() {
  gui_begin install-signed "$MACHINES/ovin-e.reg" E
  check signed_signature_verifies osslsigncode verify -in "$SIGNED_PKG" -CAfile "$GUI_WORK/cert.pem"
  gui_run "$SIGNED_PKG" -- "wait-window $CAPTION" "click 1002" "wait-text 1020 Ready" "text 1020" \
    "click 1" "wait-box Installation Complete!" "answer-box IDOK" "wait-gone"
  expect_line signed_ready_line "TEXT Ready to INSTALL!"
  expect_line signed_completion_notice \
    'BOX caption=signed text=Thank you for using Quorvix product!\r\nInstallation Complete!'
  expect_code signed_exit_code 0
  check signed_utility_bytes cmp -s "$PAYLOAD" "$GUI_DRIVE/$UTILITY"
  check signed_companion_bytes cmp -s "$GUI_WORK/companion.txt" "$GUI_DRIVE/docs/notes/companion.txt"
  gui_end
}

# An older copy of the utility on the drive, read-only; the answer decides.
scenario_overwrite() {
  local answer=$1 name=overwrite-$(printf '%s' "$1" | tr 'A-Z' 'a-z')
  gui_begin "$name" "$MACHINES/ovin-e.reg" E
  printf 'an older copy' > "$GUI_DRIVE/$UTILITY"
  chmod 444 "$GUI_DRIVE/$UTILITY"
  gui_run "$SET_PKG" -- "wait-window $CAPTION" "click 1002" "wait-text 1020 Ready" "click 1" \
    "wait-box already exist!" "box-owner" "answer-box $answer" "wait-box Installation Complete!" \
    "answer-box IDOK" "wait-gone"
  expect_line "${name}_question" \
    "BOX caption=Overwrite text=E:\\$UTILITY \\r\\nalready exist!  Delete this file before Installing?"
  # Asked while the run copies on its worker, shown by the sheet's own thread.
  expect_line "${name}_question_owned_by_the_sheet" "BOX-OWNER sheet thread=sheet"
  expect_line "${name}_completes" \
    'BOX caption=with-set text=Thank you for using Quorvix product!\r\nInstallation Complete!'
  check "${name}_companion_installed" cmp -s "$GUI_WORK/companion.txt" \
    "$GUI_DRIVE/docs/notes/companion.txt"
  if [ "$answer" = IDNO ]; then
    check "${name}_old_copy_kept" [ "$(cat "$GUI_DRIVE/$UTILITY")" = "an older copy" ]
  else
    check "${name}_replaced" cmp -s "$PAYLOAD" "$GUI_DRIVE/$UTILITY"
  fi
  expect_code "${name}_exit_code" 0
  gui_end
}

# The companion's folder is a link to a folder outside the drive (Wine shows
# a unix link to a folder as a reparse point): the run stops there, names the
# link, and nothing lands outside.
scenario_folder_link() {
  gui_begin folder-link "$MACHINES/ovin-e.reg" E
  local outside=$GUI_WORK/outside-folder-link
  rm -rf "$outside"
  mkdir -p "$outside"
  ln -s "$outside" "$GUI_DRIVE/docs"
  gui_run "$SET_PKG" -- "wait-window $CAPTION" "click 1002" "wait-text 1020 Ready" "click 1" \
    "wait-box symbolic link" "answer-box IDOK" "wait-box Unable To Continue" "answer-box IDOK" \
    "click 2" "wait-gone"
  check folder_link_named grep -qF 'text=The module "companion.txt" cannot be installed safely: this is a symbolic link or junction,\r\nE:\docs\r\nand nothing' "$GUI_OUT"
  expect_line folder_link_cannot_continue 'BOX caption=with-set text=Unable To Continue Installation!\r\nGood Bye!'
  check folder_link_nothing_outside [ -z "$(ls -A "$outside")" ]
  check folder_link_utility_not_installed [ ! -e "$GUI_DRIVE/$UTILITY" ]
  gui_end
}

scenario_launch() {
  gui_begin launch "$MACHINES/ovin-e.reg" E
  gui_run "$SET_PKG" -- "wait-window $CAPTION" "click 1002" "wait-text 1020 Ready" "check 1006" \
    "click 1" "wait-box Installation Complete!" "answer-box IDOK" "wait-gone"
  expect_line launch_ticked "CHECKED 1"
  local i
  for ((i = 0; i < 50; i++)); do
    [ -e "$GUI_DRIVE/brelvane-started.txt" ] && break
    sleep 0.2
  done
  check launch_started_the_utility [ -e "$GUI_DRIVE/brelvane-started.txt" ]
  expect_code launch_exit_code 0
  gui_end
}

# A set of 512 MiB, two modules of 256 MiB: while it copies, the sheet
# answers within a second at every poll (a sheet copying inside its click
# handler does not, and Windows greys it out as "Not Responding"), the bar
# rises over the whole set's bytes to full, the file line names each file,
# and the buttons and tabs stay disabled until the run ends.  The modules
# are sparse zeros, scrambled in the package.
scenario_large_set() {
  gui_begin large-set "$MACHINES/ovin-e.reg" E
  local package=$GUI_WORK/large-set.exe zeros=$GUI_WORK/zeros
  mkdir -p "$zeros"
  truncate -s 256M "$zeros/big-a.bin" "$zeros/big-b.bin"
  cp "$SETUP_EXE" "$package"
  "$OEMPACK" add-predef "$package" --ovin "$zeros/big-b.bin" --ovin-root data >/dev/null
  "$OEMPACK" add-predef "$package" --ovin "$zeros/big-a.bin" >/dev/null
  gui_run "$package" -- "wait-window $CAPTION" "click 1002" "wait-text 1020 Ready" "click 1" \
    "watch-run Installation Complete! 300" "answer-box IDOK" "wait-gone 30"
  expect_line large_set_sheet_answers_every_poll "RUN ANSWERED"
  expect_line large_set_bar_rises_to_full "RUN BAR RISES TO FULL"
  expect_line large_set_buttons_disabled_until_the_end "RUN BUTTONS DISABLED"
  expect_line large_set_file_line_names_each_file "RUN FILES E:\\big-a.bin | E:\\data\\big-b.bin"
  expect_code large_set_exit_code 0
  check large_set_first_bytes cmp -s "$zeros/big-a.bin" "$GUI_DRIVE/big-a.bin"
  check large_set_second_bytes cmp -s "$zeros/big-b.bin" "$GUI_DRIVE/data/big-b.bin"
  rm -rf "$package" "$zeros" "$GUI_DRIVE"
  gui_end
}

# A user who presses Esc or Cancel, closes the sheet or picks a tab while a
# run copies: nothing leaves the page or closes the sheet.  The run goes on
# to its end (it stops at a folder that is a link) and the sheet stays open
# on the page with its buttons back.
scenario_leave_during_run() {
  gui_begin leave-during-run "$MACHINES/ovin-e.reg" E
  local package=$GUI_WORK/leave.exe zeros=$GUI_WORK/zeros-leave
  mkdir -p "$zeros"
  truncate -s 256M "$zeros/big-a.bin"
  cp "$SETUP_EXE" "$package"
  "$OEMPACK" add-predef "$package" --ovin "$GUI_WORK/companion.txt" --ovin-root 'docs\notes' >/dev/null
  "$OEMPACK" add-predef "$package" --ovin "$zeros/big-a.bin" >/dev/null
  # A file where the companion's folder must go: the run stops once the
  # large module is staged, and puts nothing in place.
  printf 'in the way' > "$GUI_DRIVE/docs"
  gui_run "$package" -- "wait-window $CAPTION" "click 1002" "wait-text 1020 Ready" "click 1" \
    "try-leave" "wait-box Unable to create folder 120" "current-page" "answer-box IDOK" \
    "wait-box Unable To Continue" "answer-box IDOK" "wait-enabled 1" "wait-enabled 2" "click 2" \
    "wait-gone"
  expect_line leave_during_run_tried "TRIED"
  expect_line leave_during_run_stays_on_the_page "CURRENT 1"
  expect_count leave_during_run_sheet_stays_with_its_buttons_back "ENABLED 1" 2
  check leave_during_run_drive_as_it_was [ "$(ls -A "$GUI_DRIVE")" = docs ]
  rm -rf "$package" "$zeros" "$GUI_DRIVE"
  gui_end
}

# Cancel while a large file copies asks, and Yes stops the run before any
# file of the set is put in place: the drive is left as it was.
scenario_stop_during_run() {
  gui_begin stop-during-run "$MACHINES/ovin-e.reg" E
  local package=$GUI_WORK/stop.exe zeros=$GUI_WORK/zeros-stop
  mkdir -p "$zeros"
  truncate -s 256M "$zeros/big-b.bin"
  cp "$SETUP_EXE" "$package"
  "$OEMPACK" add-predef "$package" --ovin "$GUI_WORK/companion.txt" >/dev/null
  "$OEMPACK" add-predef "$package" --ovin "$zeros/big-b.bin" >/dev/null
  gui_run "$package" -- "wait-window $CAPTION" "click 1002" "wait-text 1020 Ready" "click 1" \
    "enabled 2" "click 2" "wait-box Stop the installation" "answer-box IDYES" \
    "wait-box stopped before any file" "answer-box IDOK" "wait-enabled 1" "click 2" "wait-gone"
  expect_line stop_cancel_stays_enabled "ENABLED 1" 1
  check stop_says_the_drive_is_as_it_was grep -q "^BOX .*text=The installation was stopped before any file of the set was put in place: the drive is as it was" "$GUI_OUT"
  check stop_leaves_the_drive_as_it_was [ -z "$(ls -A "$GUI_DRIVE")" ]
  expect_line stop_install_offered_again "ENABLED 1" 2
  rm -rf "$package" "$zeros" "$GUI_DRIVE"
  gui_end
}

# The drive pulled out after the set is staged, while a question waits: the
# box names the drive as removed, never a file that was there.  Plugged in
# again, Install removes what the pulled run staged and installs the set.
scenario_pulled_drive() {
  gui_begin pulled-drive "$MACHINES/ovin-e.reg" E
  printf 'an older utility' > "$GUI_DRIVE/$UTILITY"
  local link=$WINEPREFIX/dosdevices/e:
  local shell_steps=()
  on_handshake pull mv "$link" "$link-pulled" &
  shell_steps+=($!)
  on_handshake plug mv "$link-pulled" "$link" &
  shell_steps+=($!)
  gui_run "$SET_PKG" -- "wait-window $CAPTION" "click 1002" "wait-text 1020 Ready" "click 1" \
    "wait-box already exist" "handshake pull" "answer-box IDYES" "wait-box was removed" \
    "answer-box IDOK" "wait-box Unable To Continue" "answer-box IDOK" "handshake plug" \
    "wait-enabled 1" "click 1" "wait-box already exist" "answer-box IDYES" \
    "wait-box Installation Complete!" "answer-box IDOK" "wait-gone"
  wait "${shell_steps[@]}"
  expect_line pulled_drive_named \
    'BOX caption=with-set text=Drive E: was removed during the install: plug it in again and press Install.'
  check pulled_drive_claims_no_file_was_there bash -c "! grep -q 'was there before' '$GUI_OUT'"
  check pulled_drive_set_installed_once_back cmp -s "$PAYLOAD" "$GUI_DRIVE/$UTILITY"
  check pulled_drive_leaves_nothing_staged [ -z "$(find "$GUI_DRIVE" -name '~BV*')" ]
  gui_end
}

# Failures read back from their boxes: the utility held open by a program
# that runs from the drive is named as in use, and once it is closed, a file
# where the companion's folder must go is named; nothing is written.  Each
# path has a line of its own, which the box does not wrap.
scenario_failure_boxes() {
  gui_begin failure-boxes "$MACHINES/ovin-e.reg" E
  printf 'the running utility' > "$GUI_DRIVE/$UTILITY"
  printf 'a file in the way' > "$GUI_DRIVE/docs"
  gui_run "$SET_PKG" -- "wait-window $CAPTION" "click 1002" "wait-text 1020 Ready" \
    "hold-open E:\\$UTILITY" "click 1" "wait-box is in use" "box-wraps" "answer-box IDOK" \
    "wait-box Unable To Continue" "answer-box IDOK" "release" "click 1" \
    "wait-box Unable to create folder" "box-wraps" "answer-box IDOK" "wait-box Unable To Continue" \
    "answer-box IDOK" "click 2" "wait-gone"
  check failure_in_use_named grep -qF "text=Unable to install file:\r\nE:\\$UTILITY\r\nThe file is in use" "$GUI_OUT"
  check failure_in_use_says_what_to_do grep -qF "Close that program, then press Install again." "$GUI_OUT"
  check failure_folder_named grep -qF "text=Unable to create folder:\r\nE:\\docs\\notes\r\nError: File already exists.\r\nThis file is in the way:\r\nE:\\docs\r\n" "$GUI_OUT"
  expect_count failure_boxes_measured MEASURED 2
  check failure_boxes_keep_paths_whole bash -c "! grep -F 'WRAPS E:' '$GUI_OUT'"
  check failure_boxes_write_nothing grep -qx 'the running utility' "$GUI_DRIVE/$UTILITY"
  gui_end
}

scenario_two_models() {
  gui_begin two-models "$MACHINES/kestrin-ovin.reg" E
  gui_run "$BARE" -- "wait-box More than one" "window-exists $CAPTION" "answer-box IDOK"
  expect_line two_models_message \
    'BOX caption=bare text=More than one Suported Mivora detected under Windows.\r\nPlease unplug one and restart the application!'
  expect_line two_models_no_sheet "EXISTS 0"
  expect_code two_models_exit_code 0
  gui_end
}

# Rows of the driver ("ROW|a|b|...") and of `oempack list`, blanks collapsed.
gui_rows() { sed -n 's/^ROW|//p' "$GUI_OUT" | tr '|' ' ' | tr -s ' ' | sed 's/ $//'; }
# oempack's table has a column of its own before the last: the content
# check (yes/no), dropped here.
oempack_rows() {
  "$OEMPACK" list "$1" | tail -n +2 | tr -s ' ' | sed -E 's/ $//; s/ (yes|no) ([A-Za-z]+ drives|never \(carried only\))$/ \2/'
}

scenario_builder() {
  gui_begin builder "$MACHINES/none.reg"
  local target=$GUI_WORK/target.exe module=$GUI_WORK/module.bin
  cp "$SETUP_EXE" "$target"
  head -c 5000 /dev/urandom > "$module"
  # A second module of the same name and size, added after the first.
  mkdir -p "$GUI_WORK/module2"
  head -c 5000 /dev/urandom > "$GUI_WORK/module2/module.bin"
  printf 'kestrin set file' > "$GUI_WORK/kes.bin"
  printf 'ovin set file' > "$GUI_WORK/ovin.bin"
  rm -f "$GUI_WORK/out.bin"
  # An installer of 500 modules, four appended at a time, each of a name of
  # its own (a set takes each file on the drive once).
  local many=$GUI_WORK/many.exe sources=$GUI_WORK/many-sources group i
  cp "$SETUP_EXE" "$many"
  mkdir -p "$sources"
  for ((i = 0; i < 125; i++)); do
    for group in kestrin ovin pellor combined; do
      printf '%s module' "$group" > "$sources/$group-$i.txt"
    done
    "$OEMPACK" add-predef "$many" --kestrin "$sources/kestrin-$i.txt" \
      --ovin "$sources/ovin-$i.txt" --pellor "$sources/pellor-$i.txt" \
      --combined "$sources/combined-$i.txt" >/dev/null
  done
  rm -f "$GUI_WORK/out2.bin"
  gui_run "$BARE" /oem -- "wait-window $CAPTION" "page-count" "page-title" "visible 1" \
    "visible 1008" "visible 1009" "visible 1011" "visible 1010" \
    "set-text 1016 $(wine_winpath "$target")" "enabled 1009" "tab-order" "key alt+m" "focus" \
    "set-text 1008 $(wine_winpath "$module")" "click 1009" "list-rows 1015" \
    "set-text 1008 $(wine_winpath "$GUI_WORK/module2/module.bin")" "click 1009" \
    "wait-box already holds" "answer-box IDYES" "wait-rows 1015 2" "selected-rows 1015" \
    "cell-click 1015 1 3" "selected-rows 1015" \
    "list-select 1015 1" "click 1011" "file-dialog $(wine_winpath "$GUI_WORK/out.bin")" \
    "wait-box Module Extracted" "answer-box IDOK" \
    "page 1" "page-title" "key alt+p" "focus" "enabled 1019" "combo-items 1028" \
    "set-text 1017 $(wine_winpath "$GUI_WORK/kes.bin")" "set-text 1024 tools\\k" \
    "combo-select 1028 1" "set-text 1009 $(wine_winpath "$GUI_WORK/ovin.bin")" "text 1031" \
    "click 1019" "wait-box Add module" "answer-box IDOK" "page 0" "list-rows 1015" \
    "header-click 1015 0" "header-click 1015 0" "list-rows 1015" \
    "list-select 1015 2" "click 1011" "file-dialog $(wine_winpath "$GUI_WORK/out2.bin")" \
    "wait-box Module Extracted" "answer-box IDOK" \
    "answers-start" "set-text 1016 $(wine_winpath "$many")" "wait-rows 1015 500" \
    "set-text 1008 $(wine_winpath "$module")" "click 1009" "wait-rows 1015 501" \
    "header-click 1015 2" "header-click 1015 2" "cell-click 1015 3 3" "answers-stop" \
    "click 2" "wait-gone"
  expect_line builder_two_pages "PAGES 2"
  expect_line builder_opens_on_oem_page "TITLE OEM Page"
  expect_line builder_install_button_hidden "VISIBLE 0" 1
  expect_count builder_module_commands_shown "VISIBLE 1" 3
  expect_line builder_delete_stays_hidden "VISIBLE 0" 5
  expect_line builder_add_enabled_for_another_installer "ENABLED 1" 1
  expect_line builder_tab_order_as_read "TAB-ORDER 1016 1013 1008 1012 1015 1009 1011"
  # Access keys reach the fields through their labels: the list, and a set's
  # source file.
  expect_line builder_list_access_key "FOCUS id=1015 shown=1 in-page=1"
  expect_line builder_set_access_key "FOCUS id=1010 shown=1 in-page=1"
  # A second module of the same name is asked about; once added, its row
  # is selected.  A click on the size cell selects the whole row.
  check builder_twin_asked grep -qF 'already holds a user-defined module named "module.bin"' "$GUI_OUT"
  expect_line builder_added_row_selected "SELECTED-ROWS 0" 1
  expect_line builder_full_row_select "SELECTED-ROWS 1" 2
  expect_line builder_lists_added_module "ROW|module.bin||5000|User Defined|Normal|never (carried only)"
  expect_line builder_extract_notice "BOX caption=bare text=Module Extracted Successfully!"
  # The selected row (the older of two equal names) is the module extracted.
  check builder_extracts_the_selected_row cmp -s "$module" "$GUI_WORK/out.bin"
  expect_line builder_predef_page "TITLE Predef Modules"
  expect_line builder_predef_add_enabled "ENABLED 1" 2
  expect_line builder_attribute_choices "ITEMS|Normal|R only|Hidden|R&H SELECTED 0"
  expect_line builder_group_gauge "TEXT Mivora Kestrin Files - 14/254"
  expect_line builder_predef_notice "BOX caption=bare text=Add module Successfull"
  # The list after the predefined modules agrees with oempack, row for row.
  local last_rows
  last_rows=$(gui_rows | tail -n 8 | head -n 4)
  check builder_rows_match_oempack [ "$last_rows" = "$(oempack_rows "$target")" ]
  check builder_predefined_rows [ "$(printf '%s\n' "$last_rows" | head -n 2)" = \
    "$(printf 'ovin.bin Yes-OVIN 13 Root\\ Normal Ovin drives\nkes.bin Yes-KESTRIN 16 Root\\tools\\k Read Only Kestrin drives')" ]
  # Two clicks on the name heading: by name, then reversed; equal names stay
  # newest first, and row 2 extracts its own module, the older module.bin.
  check builder_heading_sorts_and_reverses [ "$(gui_rows | tail -n 4 | cut -d' ' -f1 | tr '\n' ' ')" = \
    "ovin.bin module.bin module.bin kes.bin " ]
  check builder_sorted_row_extracts_its_module cmp -s "$module" "$GUI_WORK/out2.bin"
  # Every step on the list of 500 (listing, adding, sorting twice, selecting)
  # leaves the window answering within 100 ms.
  local slowest
  slowest=$(sed -n 's/^ANSWERS .*slowest=\([0-9]*\)ms.*/\1/p' "$GUI_OUT")
  check builder_500_modules_answer_within_100ms [ "${slowest:-1000}" -lt 100 ]
  expect_line builder_500_modules_listed "ROWS 501"
  expect_code builder_exit_code 0
  gui_end
}

# A predefined root that every install would refuse: the page names the rule
# and the installer keeps its bytes, the sound Kestrin group included.
scenario_builder_refuses_hostile_root() {
  gui_begin builder-refuse "$MACHINES/none.reg"
  local target=$GUI_WORK/refuse-target.exe
  cp "$SETUP_EXE" "$target"
  printf 'kestrin set file' > "$GUI_WORK/kes.bin"
  printf 'ovin set file' > "$GUI_WORK/ovin.bin"
  gui_run "$BARE" /oem -- "wait-window $CAPTION" "set-text 1016 $(wine_winpath "$target")" \
    "page 1" "set-text 1017 $(wine_winpath "$GUI_WORK/kes.bin")" \
    "set-text 1009 $(wine_winpath "$GUI_WORK/ovin.bin")" "set-text 1025 ..\\..\\Windows" \
    "click 1019" "wait-box cannot be added" "answer-box IDOK" "click 2" "wait-gone"
  expect_line builder_refuses_hostile_root "BOX caption=bare text=The module \"ovin.bin\" cannot be added: the folder's part \"..\" climbs to the parent folder.\\r\\nEvery install would refuse it, so nothing is added."
  check builder_refused_root_appends_nothing cmp -s "$SETUP_EXE" "$target"
  expect_code builder_refuse_exit_code 0
  gui_end
}

# ---- Folders the ANSI code page cannot name ------------------------------------
# Wine in a UTF-8 locale runs the programs with code page 1252 (Western): a
# Cyrillic folder name is '?'s to the ANSI calls.  Each scenario runs in that
# locale, and the programs are started by their Windows paths.
NON_ANSI=Пользователь
DOWNLOADS=Загрузки

# gui_run_in FOLDER PROGRAM ARGUMENTS... -- COMMANDS...: gui_run with FOLDER as
# the current directory, in the UTF-8 locale.
gui_run_in() {
  local folder=$1 saved_lang=${LANG-} saved_all=${LC_ALL-}
  shift
  pushd "$folder" >/dev/null || return 1
  export LANG=C.UTF-8 LC_ALL=C.UTF-8
  gui_run "$@"
  export LANG=$saved_lang LC_ALL=$saved_all
  popd >/dev/null || return 1
}

# A user's downloads folder under a Cyrillic user name: the installer started
# from there opens itself and finds its set.
scenario_non_ansi_folder() {
  gui_begin non-ansi-folder "$MACHINES/ovin-e.reg" E
  local folder=$GUI_WORK/$NON_ANSI/$DOWNLOADS
  mkdir -p "$folder"
  cp "$SET_PKG" "$folder/brelvane-setup.exe"
  gui_run_in "$folder" "$(wine_winpath "$folder/brelvane-setup.exe")" -- "wait-window $CAPTION" \
    "click 1002" "wait-text 1020 Ready" "click 1" "wait-box Installation Complete!" \
    "answer-box IDOK" "wait-gone"
  expect_line non_ansi_folder_finds_the_set "TEXT Ready to INSTALL!"
  check non_ansi_folder_installs_the_utility cmp -s "$PAYLOAD" "$GUI_DRIVE/$UTILITY"
  expect_code non_ansi_folder_exit_code 0
  gui_end
}

# The builder given an installer in such a folder lists its modules, and a
# module named in code page 1252 ("é.txt") is stored with that one byte, as
# the install reads it back.
scenario_builder_non_ansi_installer() {
  gui_begin builder-non-ansi "$MACHINES/none.reg"
  local folder=$GUI_WORK/$NON_ANSI/builder target
  mkdir -p "$folder"
  target=$folder/brelvane-setup.exe
  cp "$SET_PKG" "$target"
  printf 'accented name' > "$GUI_WORK/é.txt"
  gui_run_in "$GUI_WORK" "$BARE" /oem -- "wait-window $CAPTION" \
    "set-text 1016 $(wine_winpath "$target")" "list-rows 1015" \
    "set-text 1008 $(wine_winpath "$GUI_WORK/é.txt")" "click 1009" "list-rows 1015" \
    "list-select 1015 0" "click 1011" "file-dialog $(wine_winpath "$target")" \
    "wait-box exists" "answer-box IDYES" "wait-box installer itself" "answer-box IDOK" \
    "list-select 1015 0" "click 1011" "file-dialog $(wine_winpath "$folder/извлечено.txt")" \
    "wait-box Module Extracted" "answer-box IDOK" \
    "page 1" "set-text 1017 $(wine_winpath "$GUI_WORK/é.txt")" "text 1031" "click 2" "wait-gone"
  local first_rows
  first_rows=$(gui_rows | head -n 2)
  check builder_non_ansi_lists_the_set [ "$first_rows" = "$(oempack_rows "$SET_PKG")" ]
  # oempack lists the name's 1252 characters in UTF-8: "é" only for the byte 0xE9.
  check builder_non_ansi_stores_the_cp1252_byte \
    env LC_ALL=C grep -q "^é\.txt " <("$OEMPACK" list "$target")
  # The box names the installer's path as it is, not with '?'s.
  expect_line builder_non_ansi_path_shown_in_box \
    "BOX caption=bare text=$(wine_winpath "$target") \\r\\nis the installer itself!  Extract the module to another file."
  # "é.txt" counts the five bytes its record will hold.
  expect_line builder_non_ansi_gauge_counts_stored_bytes "TEXT Mivora Kestrin Files - 5/254"
  check builder_non_ansi_extracts_into_the_folder cmp -s "$GUI_WORK/é.txt" "$folder/извлечено.txt"
  expect_code builder_non_ansi_exit_code 0
  gui_end
}

# The drive's own folder has such a name, and the installer sits on the drive
# in another: started from there, it installs its set and the 1252 name lands
# as "é.txt".
scenario_non_ansi_drive() {
  GUI_NAME=non-ansi-drive
  GUI_DRIVE=$GUI_WORK/$NON_ANSI-drive
  rm -rf "$GUI_DRIVE"
  mkdir -p "$GUI_DRIVE/$DOWNLOADS"
  wine_prefix "gui-$GUI_NAME"
  wine_drive E "$GUI_DRIVE"
  wine_start
  wine_import "$MACHINES/ovin-e.reg"
  local accented=$GUI_WORK/accented
  mkdir -p "$accented"
  printf 'accented name' > "$accented/$(printf '\351').txt"
  cp "$SET_PKG" "$GUI_DRIVE/$DOWNLOADS/brelvane-setup.exe"
  "$OEMPACK" add-predef "$GUI_DRIVE/$DOWNLOADS/brelvane-setup.exe" \
    --ovin "$accented/$(printf '\351').txt" >/dev/null
  gui_run_in "$GUI_DRIVE/$DOWNLOADS" "E:\\$DOWNLOADS\\brelvane-setup.exe" -- "wait-window $CAPTION" \
    "click 1002" "wait-text 1020 Ready" "click 1" "wait-box Installation Complete!" \
    "answer-box IDOK" "wait-gone"
  expect_line non_ansi_drive_finds_the_set "TEXT Ready to INSTALL!"
  check non_ansi_drive_installs_the_utility cmp -s "$PAYLOAD" "$GUI_DRIVE/$UTILITY"
  check non_ansi_drive_installs_the_companion cmp -s "$GUI_WORK/companion.txt" \
    "$GUI_DRIVE/docs/notes/companion.txt"
  check non_ansi_drive_cp1252_name_lands_as_before [ "$(cat "$GUI_DRIVE/é.txt" 2>/dev/null)" = "accented name" ]
  expect_code non_ansi_drive_exit_code 0
  gui_end
}

# ---- Scaled displays ------------------------------------------------------------
# about ACTUAL EXPECTED: within 3 % of each other.
about() { [ -n "$1" ] && awk -v a="$1" -v e="$2" 'BEGIN { d = a - e; exit !(d * d <= (0.03 * e) ^ 2) }'; }

# The picture box the driver printed (nth side-picture line): left top width
# height, client width height, the agreement page's right edge.
picture_fields() { grep '^PICTURE' "$GUI_OUT" | sed -n "${1}p" | tr -dc '0-9 \n' | tr -s ' '; }

# picture_fits NAME DPI N: the N-th picture box is the picture drawn for DPI,
# whole, inside the client area and right of the agreement page.
picture_fits() {
  local left top width height client_width client_height page_right
  read -r left top width height client_width client_height page_right <<< "$(picture_fields "$3")"
  check "${1}_picture_scaled_beside_the_page" picture_box_fits "$2" "${left:-}" "${top:-}" \
    "${width:-}" "${height:-}" "${client_width:-}" "${client_height:-}" "${page_right:-}"
}
picture_box_fits() {
  [ -n "$8" ] && about "$4" $(( 281 * $1 / 96 )) && about "$5" $(( 189 * $1 / 96 )) &&
    [ "$2" -ge "$8" ] && [ $(( $2 + $4 )) -le "$6" ] && [ $(( $3 + $5 )) -le "$7" ]
}

# The sheet with the Ovin drive alone (picture shown) on displays of 96, 144
# and 192 DPI, set before the program starts: the sheet grows with the DPI,
# the picture is drawn scaled beside the page, and at 96 a move to a 144 DPI
# display takes the suggested size and draws the picture and the agreement's
# font for it.
scenario_dpi() {
  local dpi wide96= moved_line=
  for dpi in 96 144 192; do
    gui_begin "dpi-$dpi" "$MACHINES/ovin-e.reg" E
    gui_dpi "$dpi"
    local moved=()
    [ "$dpi" -eq 96 ] && moved=("dpi-change 144 96" "line-height 1000")
    gui_run "$BARE" -- "wait-window $CAPTION" "rect" "line-height 1000" "${moved[@]}" "side-picture" \
      "click 2" "wait-gone"
    local width line
    width=$(sed -n 's/^RECT \([0-9]*\)x.*/\1/p' "$GUI_OUT")
    line=$(sed -n 's/^LINE-HEIGHT //p' "$GUI_OUT" | tail -n 1)
    if [ "$dpi" -eq 96 ]; then
      wide96=$width moved_line=$line
      check dpi_change_takes_the_suggested_rectangle [ "$(sed -n 's/^SUGGESTED //p' "$GUI_OUT")" = \
        "$(sed -n 's/^PLACED //p' "$GUI_OUT")" ]
      picture_fits dpi_change_to_144 144 1
    else
      check "dpi_${dpi}_sheet_scales" about "$width" "$(( ${wide96:-0} * dpi / 96 ))"
      picture_fits "dpi_$dpi" "$dpi" 1
    fi
    # The agreement's font after the move is the font of a start at 144.
    [ "$dpi" -eq 144 ] && check dpi_change_agreement_font_follows [ "${line:-none}" = "$moved_line" ]
    gui_end
  done
  # The builder at 96 and 192 DPI: its list's columns are as wide against
  # their headings' text, and every attribute choice reads whole; at 96 the
  # columns follow a move to 144 as well.
  local fit96=
  for dpi in 96 192; do
    gui_begin "dpi-builder-$dpi" "$MACHINES/none.reg"
    gui_dpi "$dpi"
    local moved=()
    [ "$dpi" -eq 96 ] && moved=("dpi-change 144 96" "column-width 1015")
    gui_run "$BARE" /oem -- "wait-window $CAPTION" "column-width 1015" "column-fit 1015" \
      "page 1" "combo-fit 1028" "combo-fit 1029" "combo-fit 1030" "page 0" "${moved[@]}" \
      "click 2" "wait-gone"
    local fit
    fit=$(sed -n 's/^COLUMN-FIT //p' "$GUI_OUT")
    if [ "$dpi" -eq 96 ]; then
      fit96=$fit
      local columns
      columns=$(sed -n 's/^COLUMN-WIDTH //p' "$GUI_OUT" | tr '\n' ' ')
      check dpi_change_builder_columns_follow about "${columns#* }" "$(( ${columns%% *} * 3 / 2 ))"
    else
      check dpi_192_builder_columns_fit_as_at_96 columns_fit_alike "$fit96" "$fit"
    fi
    check "dpi_${dpi}_attribute_choices_whole" choices_whole
    gui_end
  done
}

# columns_fit_alike FIT96 FIT: each column's width against its heading within
# 10 % of what it is at 96 DPI.
columns_fit_alike() {
  local -a wide=($1) other=($2)
  local i
  [ "${#wide[@]}" -ge 6 ] && [ "${#other[@]}" -eq "${#wide[@]}" ] || return 1
  for ((i = 0; i < ${#wide[@]}; i++)); do
    awk -v a="${other[$i]}" -v e="${wide[$i]}" 'BEGIN { d = a - e; exit !(d * d <= (0.1 * e) ^ 2) }' ||
      return 1
  done
}

# choices_whole: the three combos' lines show twelve choices, each with room
# to spare at its right.
choices_whole() {
  local room
  room=$(grep '^COMBO-FIT' "$GUI_OUT" | cut -d' ' -f2- | tr ' ' '\n')
  [ "$(printf '%s\n' "$room" | grep -c .)" -eq 12 ] && ! printf '%s\n' "$room" | grep -qvE '^[1-9][0-9]*$'
}

# The bare program: no modules behind its image, only system DLLs imported.
scenario_bare_program() {
  check bare_program_lists_no_modules [ "$("$OEMPACK" list "$SETUP_EXE" | wc -l)" -eq 1 ]
  local dlls
  dlls=$(x86_64-w64-mingw32-objdump -p "$SETUP_EXE" | sed -n 's/.*DLL Name: //p' | tr 'A-Z' 'a-z' |
    sort | tr '\n' ' ')
  # At load time only kernel32 and msvcrt (KnownDLLs): every other system
  # DLL is delay-loaded once the DLL search is limited to the system folder.
  check bare_program_loads_only_known_dlls [ "$dlls" = "kernel32.dll msvcrt.dll " ]
}

# An installer run from a Downloads folder that holds DLLs of the names the
# loader looks for beside a program (dependencies of the system DLLs the
# programs use that are no KnownDLLs on Windows 10), with Wine told to take
# such a DLL before its own, as Windows does for any DLL that is not a
# KnownDLL: no planted DLL runs, in the wizard's whole install or in
# oempack.exe.  A planted DLL leaves NAME.dll.ran beside itself when loaded.
# KnownDLLs (combase, imm32, shcore and the like) are not planted: Windows
# takes them from the system folder whatever the search says, and Wine,
# which has no such rule for an override, loads its own DLLs' delay-loaded
# dependencies through the process's first DLL path, the program's folder
# first, whatever the program asked for.
PLANTED="version uxtheme dwmapi cryptbase comctl32 propsys windowscodecs userenv winmm profapi"
scenario_planted_dlls() {
  gui_begin planted "$MACHINES/ovin-e.reg" E
  local downloads=$GUI_WORK/downloads compiler=x86_64-w64-mingw32-gcc name
  [ "${WINE_ARCH:-x64}" = x86 ] && compiler=i686-w64-mingw32-gcc
  mkdir -p "$downloads"
  cat > "$downloads/plant.c" <<'PLANT'
#include <windows.h>
BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID unused) {
  (void)unused;
  if (reason == DLL_PROCESS_ATTACH) {
    wchar_t marker[MAX_PATH + 8];
    DWORD length = GetModuleFileNameW(self, marker, MAX_PATH);
    lstrcpyW(marker + length, L".ran");
    CloseHandle(CreateFileW(marker, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL));
  }
  return TRUE;
}
PLANT
  "$compiler" -shared -O1 "$downloads/plant.c" -o "$downloads/plant.dll" ||
    { gui_fail planted_dll_built; gui_end; return; }
  for name in $PLANTED; do cp "$downloads/plant.dll" "$downloads/$name.dll"; done
  cp "$SET_PKG" "$downloads/setup.exe"
  cp "$(dirname "$SETUP_EXE")/oempack.exe" "$downloads/oempack.exe"
  local overrides
  overrides="$WINEDLLOVERRIDES;$(echo $PLANTED | tr ' ' ,)=n,b"
  WINEDLLOVERRIDES=$overrides gui_run "$downloads/setup.exe" -- "wait-window $CAPTION" \
    "click 1002" "wait-text 1020 Ready" "click 1" "wait-box Installation Complete!" \
    "answer-box IDOK" "wait-gone"
  expect_code planted_install_exit_code 0
  check planted_install_utility_bytes cmp -s "$PAYLOAD" "$GUI_DRIVE/$UTILITY"
  WINEDLLOVERRIDES=$overrides "$WINE64" "$downloads/oempack.exe" list \
    "$(wine_winpath "$downloads/setup.exe")" > "$GUI_WORK/planted-oempack.out" 2>&1
  check planted_oempack_lists grep -qF "$UTILITY" "$GUI_WORK/planted-oempack.out"
  check planted_dll_never_runs [ -z "$(find "$downloads" -name '*.ran')" ]
  gui_end
}

run_scenario() {
  [ -z "${GUI_ONLY:-}" ] || [[ " $GUI_ONLY " == *" $1 "* ]] || return 0
  "scenario_$@"
}

run_scenario bare_program
run_scenario planted_dlls
run_scenario decline
run_scenario no_drive
run_scenario ovin_without_set
run_scenario install
run_scenario keyboard
run_scenario drive_arrives
run_scenario second_copy
run_scenario guard_held
run_scenario install_windows_10_11
run_scenario fixed_disk_forms
run_scenario nine_x
run_scenario enter_while_hidden
run_scenario install_signed
run_scenario overwrite IDNO
run_scenario overwrite IDYES
run_scenario folder_link
run_scenario launch
run_scenario large_set
run_scenario leave_during_run
run_scenario stop_during_run
run_scenario failure_boxes
run_scenario pulled_drive
run_scenario two_models
run_scenario builder
run_scenario builder_refuses_hostile_root
run_scenario non_ansi_folder
run_scenario builder_non_ansi_installer
run_scenario non_ansi_drive
run_scenario dpi
gui_summary
