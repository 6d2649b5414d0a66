#!/usr/bin/env bash
# brelvane-sim end to end: a package made with oempack from a copy of
# brelvane-sim, run on simulated machines with its answers on standard input.
# What lands in the drive folder is compared byte by byte, with its
# attributes.  $1 is the folder holding brelvane-sim and oempack.
set -u
TOOLS=$1
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
MACHINES=$ROOT/samples/machines
# shellcheck source=cli_lib.bash
source "$(dirname "$0")/cli_lib.bash"
cli_workdir

check() { # check NAME COMMAND...: one line per check
  local name=$1
  shift
  if "$@"; then echo "ok   $name"; else fail "$name"; fi
}
contains() { grep -qF -- "$2" "$1"; }
lacks() { ! grep -qF -- "$2" "$1"; }
mode_is() { [ "$(stat -c %a "$1")" = "$2" ]; }
# The Windows attribute bits kept beside a file (hidden), 0 when none are.
dos_bits() { local v; v=$(getfattr --only-values -n user.DOSATTRIB "$1" 2>/dev/null | tr -d '\0'); echo $((${v:-0})); }
hidden() { (( ($(dos_bits "$1") & 2) != 0 )); }
not_hidden() { (( ($(dos_bits "$1") & 2) == 0 )); }
entries_are() { # entries_are FOLDER EXPECTED...: the whole tree below FOLDER
  local actual expected
  actual=$(cd "$1" && find . -mindepth 1 | sort)
  shift
  expected=$(printf '%s\n' "$@" | sort)
  [ "$actual" = "$expected" ] || { echo "  tree: $actual" | tr '\n' ' '; echo; return 1; }
}
empty_dir() { [ -z "$(ls -A "$1")" ]; }

# run NAME STDIN ARGS...: runs the package, output in $WORK/NAME.out, exit code in $WORK/NAME.rc
run() {
  local name=$1 input=$2
  shift 2
  printf '%b' "$input" | PAGER=cat timeout 60 "$@" > "$WORK/$name.out" 2>&1
  echo $? > "$WORK/$name.rc"
}
exited() { [ "$(cat "$WORK/$1.rc")" = "$2" ]; }
# run_silent NAME ARGS...: stdin is a FIFO nobody writes to, so a read would
# hang until the timeout (exit 124).
run_silent() {
  local name=$1
  shift
  rm -f "$WORK/stdin"
  mkfifo "$WORK/stdin"
  sleep 30 > "$WORK/stdin" &
  local writer=$!
  timeout 20 "$@" < "$WORK/stdin" > "$WORK/$name.out" 2>&1
  echo $? > "$WORK/$name.rc"
  kill "$writer" 2> /dev/null
  wait "$writer" 2> /dev/null
}

# ---- The payload and the package ---------------------------------------------
mkdir -p "$WORK/payload"
head -c 5000 /dev/urandom > "$WORK/payload/Brelvane v1.0.exe"
printf 'Read me\r\nsecond line\r\n' > "$WORK/payload/readme.txt"
head -c 1024 /dev/urandom > "$WORK/payload/state.dat"
PKG=$WORK/brelvane-demo
cp "$TOOLS/brelvane-sim" "$PKG"
"$TOOLS/oempack" add-predef "$PKG" --ovin "$WORK/payload/Brelvane v1.0.exe" > /dev/null &&
  "$TOOLS/oempack" add-predef "$PKG" --ovin "$WORK/payload/readme.txt" \
    --ovin-root 'Brelvane\Docs' --ovin-attr ronly > /dev/null &&
  "$TOOLS/oempack" add-predef "$PKG" --ovin "$WORK/payload/state.dat" \
    --ovin-root 'Brelvane' --ovin-attr hidden > /dev/null
check "package built with oempack" [ $? -eq 0 ]

INSTALLED=("./Brelvane v1.0.exe" ./Brelvane ./Brelvane/Docs ./Brelvane/Docs/readme.txt
           ./Brelvane/state.dat)
E=$WORK/drive-E

# ---- Accept and install on the demo machine ----------------------------------
run first 'accept\ninstall\n' "$PKG" --drive "E=$E" --launch
check "first run exits 0" exited first 0
check "first run installs exactly the set" entries_are "$E" "${INSTALLED[@]}"
check "utility bytes" cmp -s "$WORK/payload/Brelvane v1.0.exe" "$E/Brelvane v1.0.exe"
check "readme bytes" cmp -s "$WORK/payload/readme.txt" "$E/Brelvane/Docs/readme.txt"
check "state bytes" cmp -s "$WORK/payload/state.dat" "$E/Brelvane/state.dat"
check "readme is read-only" mode_is "$E/Brelvane/Docs/readme.txt" 444
check "utility is writable" mode_is "$E/Brelvane v1.0.exe" 644
check "state is hidden" hidden "$E/Brelvane/state.dat"
check "utility is not hidden" not_hidden "$E/Brelvane v1.0.exe"
check "ready line shown" contains "$WORK/first.out" "Ready to INSTALL!"
check "completion notice" contains "$WORK/first.out" "Installation Complete!"
check "first appended module launched" contains "$WORK/first.out" 'Launch: E:\Brelvane v1.0.exe'

# ---- Again, with the answers running out: every question says No ------------
printf 'changed by the user' > "$E/Brelvane v1.0.exe"
run keep 'accept\ninstall\n' "$PKG" --drive "E=$E"
check "rerun exits 0" exited keep 0
check "rerun asks only about the file that differs" \
  [ "$(grep -c 'already exist!' "$WORK/keep.out")" -eq 1 ]
check "No keeps the user's file" [ "$(cat "$E/Brelvane v1.0.exe")" = "changed by the user" ]
check "rerun still completes" contains "$WORK/keep.out" "Installation Complete!"
check "no tick, no launch" lacks "$WORK/keep.out" "Launch:"

# ---- Again, Yes to every question: read-only and hidden files replaced --------
chmod u+w "$E/Brelvane/Docs/readme.txt"
printf 'an older readme' > "$E/Brelvane/Docs/readme.txt"
chmod 444 "$E/Brelvane/Docs/readme.txt"
printf 'older state' > "$E/Brelvane/state.dat"
run replace 'accept\ninstall\nyes\nyes\nyes\n' "$PKG" --drive "E=$E"
check "replacing run exits 0" exited replace 0
check "utility replaced" cmp -s "$WORK/payload/Brelvane v1.0.exe" "$E/Brelvane v1.0.exe"
check "read-only readme replaced" cmp -s "$WORK/payload/readme.txt" "$E/Brelvane/Docs/readme.txt"
check "replaced readme read-only again" mode_is "$E/Brelvane/Docs/readme.txt" 444
check "replaced state hidden again" hidden "$E/Brelvane/state.dat"
check "no read-only question" lacks "$WORK/replace.out" "read-only"
check "tree unchanged" entries_are "$E" "${INSTALLED[@]}"

# ---- Links: the drive root may be one; below it nothing is followed -----------
mkdir -p "$WORK/real-E" "$WORK/linked-below" "$WORK/elsewhere"
ln -s "$WORK/real-E" "$WORK/linked-E"
run linkroot 'accept\ninstall\n' "$PKG" --drive "E=$WORK/linked-E"
check "a linked drive root gets the set" entries_are "$WORK/real-E" "${INSTALLED[@]}"
ln -s "$WORK/elsewhere" "$WORK/linked-below/Brelvane"
run linkbelow 'accept\ninstall\n' "$PKG" --drive "E=$WORK/linked-below"
check "a linked folder is named" contains "$WORK/linkbelow.out" 'this is a symbolic link or junction,'
check "a linked folder stops the run" contains "$WORK/linkbelow.out" "Unable To Continue Installation!"
check "nothing written through the link" empty_dir "$WORK/elsewhere"

# ---- Decline -----------------------------------------------------------------
run decline 'decline\n' "$PKG" --drive "E=$WORK/declined"
check "decline exits 0" exited decline 0
check "decline says Good Bye" contains "$WORK/decline.out" "Good Bye!"
check "decline writes nothing" empty_dir "$WORK/declined"
check "decline never shows the install page" lacks "$WORK/decline.out" "Plugged-in"

run silent '' "$PKG" --drive "E=$WORK/silent"
check "no answers at all declines" contains "$WORK/silent.out" "Good Bye!"
check "no answers writes nothing" empty_dir "$WORK/silent"

# ---- Machines without a drive, without the set, on the 9x family --------------
run nodrive 'accept\ninstall\n' "$PKG" --machine "$MACHINES/none.reg" --drive "E=$WORK/nodrive"
check "no drive: told so" contains "$WORK/nodrive.out" "Drive Mivora Plugged-in: NO MIVORA!"
check "no drive: no Install offered" lacks "$WORK/nodrive.out" "[ Install ]"
check "no drive: nothing written" empty_dir "$WORK/nodrive"
check "no drive exits 0" exited nodrive 0

run bare 'accept\ninstall\n' "$TOOLS/brelvane-sim" --drive "E=$WORK/bare"
check "bare program: set not included" contains "$WORK/bare.out" "Brelvane is NOT included!"
check "bare program: nothing written" empty_dir "$WORK/bare"

run several 'accept\n' "$PKG" --machine "$MACHINES/kestrin-ovin.reg" --drive "E=$WORK/several"
check "two models: refused" contains "$WORK/several.out" "More than one Suported Mivora detected"
check "two models: agreement never shown" lacks "$WORK/several.out" "Accept or Decline"
check "two models exits 0" exited several 0

run nine 'accept\ninstall\n' "$PKG" --machine "$MACHINES/ovin-9x-f.reg" --drive "F=$WORK/F" --launch
check "9x: installed onto F" cmp -s "$WORK/payload/Brelvane v1.0.exe" "$WORK/F/Brelvane v1.0.exe"
check "9x: no check box" lacks "$WORK/nine.out" "Launch Brelvane after installation"
check "9x: nothing launched" lacks "$WORK/nine.out" "Launch: "

# ---- The forms Windows 7 to 11 write: the drive found and the set installed there --
# FIXTURE LETTER: the letter the drive has ("none": no drive found); every
# other present letter is a folder of its own that must stay empty.  The
# fixed-disk forms are found through the machines' storage answers (@storage).
for form in win7-ovin-e:E win11-ovin-e:E win10-stale-letter:F win10-two-disks:F \
    win10-mixed-case:E win10-uas-e:E win10-two-partitions:F win10-gpt-e:E \
    win10-unknown-form:none win10-uas-no-letter:none win10-cloned-stick:E; do
  fixture=${form%:*} letter=${form#*:}
  drives=()
  for d in $(sed -n 's/^; @drives //p' "$MACHINES/$fixture.reg"); do
    mkdir -p "$WORK/$fixture/$d"
    drives+=(--drive "$d=$WORK/$fixture/$d")
  done
  run "$fixture" 'accept\ninstall\n' "$PKG" --machine "$MACHINES/$fixture.reg" "${drives[@]}"
  if [ "$letter" = none ]; then
    check "$fixture: no drive found" contains "$WORK/$fixture.out" \
      "Drive Mivora Plugged-in: NO MIVORA!"
  else
    check "$fixture: drive $letter found" contains "$WORK/$fixture.out" \
      "Drive Mivora Plugged-in: $letter"
    check "$fixture: set installed onto $letter" entries_are "$WORK/$fixture/$letter" "${INSTALLED[@]}"
  fi
  for d in $(sed -n 's/^; @drives //p' "$MACHINES/$fixture.reg"); do
    [ "$d" = "$letter" ] || check "$fixture: nothing on $d" empty_dir "$WORK/$fixture/$d"
  done
done

# ---- Discovery explains itself, and /diagnose replays to the same answer -----
# The cloned stick without the storage stack's answers (as under Wine): the
# registry alone cannot tell the drive from its copy.
grep -v '^; @storage' "$MACHINES/win10-cloned-stick.reg" > "$WORK/cloned-registry-only.reg"
run lookalike 'accept\ninstall\n' "$PKG" --machine "$WORK/cloned-registry-only.reg" \
  --drive "D=$WORK/look-D" --drive "E=$WORK/look-E"
check "look-alike disks: no drive" contains "$WORK/lookalike.out" "NO MIVORA!"
check "look-alike disks: the page says why" contains "$WORK/lookalike.out" \
  "Two drives look the same: unplug the one that is not the Mivora drive."
check "look-alike disks: the rule is named" contains "$WORK/lookalike.out" \
  "D: and E: carry one disk signature at one offset"
check "look-alike disks: nothing written" empty_dir "$WORK/look-E"
for form in win10-uas-e:'letter E: MBR entry, signature 5D3A91C4 at 0x100000; the storage stack: usb disk 1 at 0x100000, "Quorvix" "OEM Flash"; the drive'"'"'s' \
    win10-uas-no-letter:'answer: no drive: no letter is taken as the drive'"'"'s' \
    win10-uas-no-letter:'letter F: MBR entry, signature 9E21C54D at 0x100000; the storage stack: usb disk 2 at 0x100000, "Kellin" "Portable SSD"; not the drive'"'"'s' \
    none:'answer: no drive: no supported model is plugged in'; do
  fixture=${form%%:*} line=${form#*:}
  rm -f "$WORK/explain.log"
  run_silent "explain-$fixture" "$PKG" --machine "$MACHINES/$fixture.reg" --drive "E=$WORK/explain-E" \
    --drive "F=$WORK/explain-F" /silent /accept "/log=$WORK/explain.log"
  check "$fixture: the log explains: ${line:0:40}" contains "$WORK/explain.log" "discovery: $line"
done
run_silent lookalike-silent "$PKG" --machine "$WORK/cloned-registry-only.reg" \
  --drive "D=$WORK/look-D" --drive "E=$WORK/look-E" /silent /accept "/log=$WORK/look.log"
check "look-alike disks: the unattended run ends with 3" exited lookalike-silent 3
check "look-alike disks: the result says why" contains "$WORK/look.log" "two drives look the same"

# Every sample machine: /diagnose writes a machine file that replays, in
# the simulation, to the answer discovery gave.
for reg in "$MACHINES"/*.reg; do
  name=$(basename "$reg" .reg)
  rm -f "$WORK/$name.diag" "$WORK/$name.replayed"
  run_silent "diag-$name" "$TOOLS/brelvane-sim" --machine "$reg" "/diagnose=$WORK/$name.diag"
  run_silent "replay-$name" "$TOOLS/brelvane-sim" --machine "$WORK/$name.diag" \
    "/diagnose=$WORK/$name.replayed"
  first=$(iconv -f UTF-16 -t UTF-8 "$WORK/$name.diag" 2> /dev/null | grep '^; answer:')
  again=$(iconv -f UTF-16 -t UTF-8 "$WORK/$name.replayed" 2> /dev/null | grep '^; answer:')
  check "$name: /diagnose replays to the same answer" \
    [ -n "$first" ] && [ "$first" = "$again" ] && exited "diag-$name" 0
done
run_silent diag-again "$TOOLS/brelvane-sim" --machine "$MACHINES/none.reg" "/diagnose=$WORK/none.diag"
check "/diagnose onto an existing file ends with 7" exited diag-again 7
# A run killed while writing left its hidden staging file: the next one
# takes it away.  A damaged "Count" gives one line, not one per entry.
mkdir -p "$WORK/diag-dir" && printf 'part' > "$WORK/diag-dir/~BV00000.TMP"
setfattr -n user.DOSATTRIB -v '"0x6"' "$WORK/diag-dir/~BV00000.TMP"
sed 's/^"Count"=dword:00000001$/"Count"=dword:ffffffff/' "$MACHINES/win10-uas-e.reg" \
  > "$WORK/big-count.reg"
run_silent diag-dir "$TOOLS/brelvane-sim" --machine "$WORK/big-count.reg" \
  "/diagnose=$WORK/diag-dir/m.reg"
check "/diagnose takes a killed run's staging file away" entries_are "$WORK/diag-dir" ./m.reg
check "a damaged Count is one line" [ "$(iconv -f UTF-16 -t UTF-8 "$WORK/diag-dir/m.reg" |
  grep -c 'USB storage device of UASPStor')" -eq 1 ]
run_silent diag-silent "$TOOLS/brelvane-sim" /silent /accept "/diagnose=$WORK/x.diag"
check "/diagnose beside /silent is refused" exited diag-silent 1

run other 'accept\ninstall\n' "$TOOLS/brelvane-sim" --package "$PKG" --drive "E=$WORK/other"
check "--package installs from another package" entries_are "$WORK/other" "${INSTALLED[@]}"

# ---- A signed package: the modules lie before the certificate table ----------
if make_signer; then
  make_pe_image "$WORK/image.exe"
  "$TOOLS/oempack" add-predef "$WORK/image.exe" --ovin "$WORK/payload/Brelvane v1.0.exe" > /dev/null &&
    "$TOOLS/oempack" add-predef "$WORK/image.exe" --ovin "$WORK/payload/readme.txt" \
      --ovin-root 'Brelvane\Docs' --ovin-attr ronly > /dev/null &&
    sign "$WORK/image.exe" "$WORK/signed.exe"
  check "signed package made" signature_ok "$WORK/signed.exe"
  run signed 'accept\ninstall\n' "$TOOLS/brelvane-sim" --package "$WORK/signed.exe" --drive "E=$WORK/signed-E"
  check "a signed package installs its set" entries_are "$WORK/signed-E" "./Brelvane v1.0.exe" \
    ./Brelvane ./Brelvane/Docs ./Brelvane/Docs/readme.txt
  check "signed package: utility bytes" cmp -s "$WORK/payload/Brelvane v1.0.exe" "$WORK/signed-E/Brelvane v1.0.exe"
else
  fail "no signer"
fi

# ---- Packages from outside: a FIFO, names with control characters ----------
mkfifo "$WORK/pipe"
timeout 10 "$TOOLS/brelvane-sim" --package "$WORK/pipe" --drive "E=$WORK/fifo" \
  < /dev/null > "$WORK/fifo.out" 2>&1
echo $? > "$WORK/fifo.rc"
check "a FIFO as the package is refused at once" exited fifo 1
check "a FIFO is named as no regular file" contains "$WORK/fifo.out" "not a regular file"

# The builder refuses such a name, so the ESC byte is patched into the record.
mkdir "$WORK/ctl" && printf 'x' > "$WORK/ctl/clear_[2J.txt"
cp "$TOOLS/brelvane-sim" "$WORK/ctl.pkg"
"$TOOLS/oempack" add-predef "$WORK/ctl.pkg" --ovin "$WORK/ctl/clear_[2J.txt" > /dev/null
# 0x9B, CSI to some terminals, is the 1252 character "›".
python3 -c 'import sys; f=open(sys.argv[1],"r+b"); f.seek(-660+132,2); f.write(b"\x9blear\x1b")' "$WORK/ctl.pkg" &&
  reseal_record "$WORK/ctl.pkg"
run ctl 'accept\ninstall\n' "$WORK/ctl.pkg" --drive "E=$WORK/ctl-E"
check "a control character in a message is escaped" contains "$WORK/ctl.out" '›lear\x1B[2J.txt'
check "no raw escape reaches the terminal" lacks "$WORK/ctl.out" $'\e'
check "no raw C1 byte reaches the terminal" lacks "$WORK/ctl.out" $'\x9b'

# ---- Unattended: the Windows program's switches, passed on as they are -------
TMPDIR=$WORK/no-such-folder "$TOOLS/brelvane-sim" --drive "E=$WORK/un-E" > "$WORK/notemp.out" 2>&1 < /dev/null
echo $? > "$WORK/notemp.rc"
check "a missing temporary folder is named" contains "$WORK/notemp.out" \
  "the temporary folder $WORK/no-such-folder cannot be used"
check "a missing temporary folder ends the run with 1" exited notemp 1
LOG=$WORK/unattended.log
mkdir -p "$WORK/un-E"
printf 'kept' > "$WORK/un-E/Brelvane v1.0.exe"
run_silent unkept "$PKG" --drive "E=$WORK/un-E" /silent /accept "/log=$LOG"
check "/silent keeping a file that differs exits 10 without reading stdin" exited unkept 10
check "/silent keeps an existing file by default" [ "$(cat "$WORK/un-E/Brelvane v1.0.exe")" = kept ]
check "the log names the skipped file" contains "$LOG" 'skipped E:\Brelvane v1.0.exe (5000 bytes)'
check "the log names the written file" contains "$LOG" 'written E:\Brelvane\Docs\readme.txt (22 bytes)'
check "the log names the drive" contains "$LOG" 'drive E: found, model Ovin'
check "the log ends with the code and the kept file" contains "$LOG" \
  'result: the module set is installed, but 1 file(s) that differ from the set were kept: E:\Brelvane v1.0.exe; exit code 10'
run_silent replaced "$PKG" --drive "E=$WORK/un-E" /silent /accept /overwrite=yes "/log=$LOG"
check "/overwrite=yes replaces it" cmp -s "$WORK/payload/Brelvane v1.0.exe" "$WORK/un-E/Brelvane v1.0.exe"
check "the log is appended to" [ "$(grep -c 'exit code ' "$LOG")" -eq 2 ]
run_silent unaccepted "$PKG" --drive "E=$WORK/un-none" /silent "/log=$LOG"
check "/silent without /accept exits 2" exited unaccepted 2
run_silent nodrive-silent "$PKG" --machine "$MACHINES/none.reg" /silent /accept "/log=$LOG"
check "no drive exits 3" exited nodrive-silent 3
run_silent several-silent "$PKG" --machine "$MACHINES/kestrin-ovin.reg" /silent /accept "/log=$LOG"
check "two models exit 4" exited several-silent 4
run_silent badvalue "$PKG" /silent /accept /overwrite=maybe
check "a bad value exits 1" exited badvalue 1
run_silent verify "$PKG" -- -VERIFY
check "/verify on a sound package exits 0" exited verify 0
check "/verify prints the summary" contains "$WORK/verify.out" '3 module(s), 3 checked and sound'
cp "$PKG" "$WORK/damaged.pkg"
python3 -c 'import sys; f=open(sys.argv[1],"r+b"); f.seek(-661,2); b=f.read(1); f.seek(-661,2); f.write(bytes([b[0]^1]))' "$WORK/damaged.pkg"
run_silent verify-damaged "$WORK/damaged.pkg" /verify
check "/verify on a damaged package exits 8" exited verify-damaged 8
check "/verify names the damaged module" contains "$WORK/verify-damaged.out" 'module "state.dat" at offset'

run usage '' "$PKG" --drive nonsense
check "bad --drive is a usage error" exited usage 2
run launch-unattended '' "$PKG" --launch /silent /accept
check "--launch beside the setup's switches is a usage error" exited launch-unattended 2

exit $FAILED
