#!/usr/bin/env bash
# The drive as a real exFAT volume (mkfs.exfat from exfatprogs on a loop
# device, mounted with exfat-fuse): a fresh install, a replace, a set too
# large for the volume, and an older package whose set names one file twice
# in two letter cases, which a case-insensitive volume holds as one file.
# exfat-fuse keeps no attribute bits (no extended attributes, one mode for
# every file): only bytes and names are checked here.  Needs root, a loop
# device and FUSE; skipped with the reason otherwise.  $1 is the folder
# holding brelvane-sim and oempack.
set -u
TOOLS=$1
# shellcheck source=cli_lib.bash
source "$(dirname "$0")/cli_lib.bash"
cli_workdir
cd "$WORK" || exit 1

skip() {
  echo "SKIPPED: $*"
  exit 0
}
[ "$(id -u)" -eq 0 ] || skip "mounting an exFAT volume needs root"
command -v mkfs.exfat > /dev/null && command -v mount.exfat-fuse > /dev/null ||
  skip "exfatprogs and exfat-fuse are not installed"
truncate -s 8M volume.img
mkfs.exfat volume.img > mkfs.out 2>&1 || skip "mkfs.exfat failed: $(cat mkfs.out)"
LOOP=$(losetup -f --show volume.img 2> losetup.err) || skip "no loop device: $(cat losetup.err)"
E=$WORK/E
mkdir E tmp payload
if ! mount.exfat-fuse "$LOOP" "$E" > mount.out 2>&1; then
  losetup -d "$LOOP"
  skip "exfat-fuse cannot mount here: $(cat mount.out)"
fi
trap 'umount "$E" 2>/dev/null; losetup -d "$LOOP"; rm -rf "$WORK"' EXIT
export TMPDIR=$WORK/tmp
UTILITY="Brelvane v1.0.exe"

head -c 300000 /dev/urandom > "payload/$UTILITY"
printf 'read me first\r\n' > payload/readme.txt
cp "$TOOLS/brelvane-sim" setup
"$TOOLS/oempack" add-predef setup --ovin "payload/$UTILITY" > /dev/null || fail "setup not built"
"$TOOLS/oempack" add-predef setup --ovin payload/readme.txt --ovin-root 'Brelvane\Docs' \
  > /dev/null || fail "setup not built"
install() { # install PACKAGE NAME ANSWERS...: the wizard, its output in NAME.out
  local package=$1 name=$2
  shift 2
  printf '%s\n' accept install "$@" | PAGER=cat timeout 60 "./$package" --drive "E=$E" \
    > "$name.out" 2>&1
}

install setup fresh
expect_text fresh.out "Installation Complete!"
cmp -s "payload/$UTILITY" "$E/$UTILITY" || fail "the utility is not on the volume"
cmp -s payload/readme.txt "$E/Brelvane/Docs/readme.txt" || fail "the readme is not on the volume"

printf 'changed' > "$E/$UTILITY"
install setup replace yes
expect_text replace.out "already exist!"
expect_text replace.out "Installation Complete!"
cmp -s "payload/$UTILITY" "$E/$UTILITY" || fail "the utility is not replaced"
[ "$(grep -c 'already exist!' replace.out)" -eq 1 ] || fail "an identical file was asked about"

# Nothing of a set too large for the volume is written, and the run says
# how much to free.
head -c $((9 << 20)) /dev/urandom > payload/large.bin
cp "$TOOLS/brelvane-sim" large
"$TOOLS/oempack" add-predef large --ovin payload/large.bin > /dev/null || fail "large not built"
BEFORE=$(cd "$E" && find . | sort)
PAGER=cat timeout 60 ./large --drive "E=$E" /silent /accept "/log=$WORK/large.log" > large.out 2>&1
[ $? -eq 14 ] || fail "a set too large for the volume does not end with 14: $(cat large.out)"
expect_text large.log "not enough room on drive E: for the module set"
[ "$(cd "$E" && find . | sort)" = "$BEFORE" ] || fail "the volume changed"

# An older builder could store readme.txt and README.TXT in one set: on
# this volume they are one file, which gets the newer module's bytes, and
# the run never asks about the file it wrote itself.
rm -rf "${E:?}/Brelvane"
printf 'older' > payload/older.txt
printf 'newer' > payload/newer.txt
cp "$TOOLS/brelvane-sim" pair
"$TOOLS/oempack" add-predef pair --ovin payload/older.txt --ovin-root Docs > /dev/null &&
  "$TOOLS/oempack" add-predef pair --ovin payload/newer.txt --ovin-root Docs > /dev/null ||
  fail "pair not built"
python3 - pair << 'PY'
import sys
with open(sys.argv[1], "r+b") as f:
    f.seek(-660 + 132, 2)  # the newest record's file name
    f.write(b"OLDER.TXT\0")
PY
reseal_record pair
PAGER=cat timeout 60 ./pair --drive "E=$E" /silent /accept "/log=$WORK/pair.log" > pair.out 2>&1
[ $? -eq 0 ] || fail "the pair does not install: $(cat pair.out)"
expect_text pair.log 'not installed: an older module of the set that goes to E:\Docs\older.txt'
[ "$(ls "$E/Docs")" = OLDER.TXT ] || fail "the volume's Docs holds: $(ls "$E/Docs")"
[ "$(cat "$E/Docs/older.txt")" = newer ] || fail "the newer module's bytes are not there"
grep -q 'already exist' pair.log && fail "the run asked about a file it wrote itself"
exit $FAILED
