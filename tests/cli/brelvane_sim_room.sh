#!/usr/bin/env bash
# A nearly full drive (a small tmpfs) holding a read-only file the module
# replaces.  With room for the module in the file's place but not beside it,
# Yes to the Overwrite question keeps a copy of the file in the temporary
# folder, replaces it in place and removes the copy; when the module then
# fails its check, the file is put back from the copy.  With no room even in
# its place, the run is refused before anything is written, with the drive,
# the bytes needed and the bytes free, and the drive stays as it was, bytes,
# modes, times and extended attributes.  Needs root to mount; skipped
# otherwise.  $1 is the folder holding brelvane-sim and oempack.
set -u
TOOLS=$1
# shellcheck source=cli_lib.bash
source "$(dirname "$0")/cli_lib.bash"
cli_workdir
cd "$WORK" || exit 1

E=$WORK/E
mkdir E tmp payload
if [ "$(id -u)" -ne 0 ] || ! mount -t tmpfs -o size=4m brelvane-test "$E" 2> mount.err; then
  echo "SKIPPED: cannot mount a tmpfs as the drive (needs root): $(cat mount.err 2> /dev/null)"
  exit 0
fi
trap 'umount "$E"; chmod -R u+w "$WORK" 2>/dev/null; rm -rf "$WORK"' EXIT
export TMPDIR=$WORK/tmp
UTILITY="Brelvane v1.0.exe"

# package NAME SIZE: a package whose Ovin module of SIZE random bytes is
# payload/NAME.
package() {
  head -c "$2" /dev/urandom > "payload/$UTILITY"
  cp "payload/$UTILITY" "payload/$1"
  cp "$TOOLS/brelvane-sim" "$1"
  "$TOOLS/oempack" add-predef "$1" --ovin "payload/$UTILITY" > /dev/null || fail "$1 not built"
}
# old_file SIZE: the drive holds only a read-only file of SIZE random bytes.
old_file() {
  chmod -R u+w "$E" && rm -rf "${E:?}"/* "$TMPDIR"/*
  head -c "$1" /dev/urandom > "$E/$UTILITY"
  chmod 444 "$E/$UTILITY"
  cp -p "$E/$UTILITY" old
}
install() { # install PACKAGE OUTPUT
  printf 'accept\ninstall\nyes\n' | PAGER=cat timeout 60 "./$1" --drive "E=$E" > "$2" 2>&1
}
# Every entry's bytes, mode, size, times and extended attributes, the
# drive's root folder with them (an entry made and removed again changes it).
snapshot() {
  (cd "$E" && find . -printf '%p %m %s %T@ %C@\n' | sort &&
    find . -type f -exec sha1sum {} + | sort && getfattr -R -d -m - . 2> /dev/null)
}
SIZE=$((3 << 20))

# Room in the file's place: replaced, and the kept copy is gone.
package fits "$SIZE"
old_file "$SIZE"
install fits in-place.out
expect_text in-place.out "beside the file it replaces"
expect_text in-place.out "$TMPDIR/kept-1-$UTILITY"
expect_text in-place.out "and then replaced in place"
expect_text in-place.out "Installation Complete!"
cmp -s "payload/fits" "$E/$UTILITY" || fail "the module is not in the file's place"
[ -z "$(ls -A "$TMPDIR")" ] || fail "the temporary folder keeps: $(ls -A "$TMPDIR")"

# A file already identical takes no room and needs no kept copy, even where
# the temporary folder could not hold one.
mkdir -p tiny-tmp
if mount -t tmpfs -o size=1m brelvane-tiny tiny-tmp 2> /dev/null; then
  printf 'accept\ninstall\n' | TMPDIR=$WORK/tiny-tmp PAGER=cat timeout 60 ./fits --drive "E=$E" \
    > identical.out 2>&1
  expect_text identical.out "Installation Complete!"
  umount tiny-tmp
fi

# The module fails its check once the file is gone: it is put back.
cp fits damaged
python3 -c 'import sys; f=open(sys.argv[1],"r+b"); f.seek(-700,2); b=f.read(1); f.seek(-700,2); f.write(bytes([b[0]^1]))' damaged
old_file "$SIZE"
install damaged put-back.out
expect_text put-back.out "does not match its check"
cmp -s old "$E/$UTILITY" || fail "the old file is not put back"
[ "$(stat -c %a "$E/$UTILITY")" = 444 ] || fail "the put-back file is not read-only"
[ "$(ls -A "$E")" = "$UTILITY" ] || fail "the drive holds: $(ls -A "$E")"
[ -z "$(ls -A "$TMPDIR")" ] || fail "the temporary folder keeps: $(ls -A "$TMPDIR")"

# No room even in its place: refused, nothing written.  What it needs is
# the module in whole clusters less the clusters the replaced file frees.
package large $((SIZE + (1 << 20) + 4096))
old_file $((1 << 20))
BEFORE=$(snapshot)
FREE=$(($(stat -f -c '%a * %S' "$E")))
NEEDED=$((SIZE + 4096))
install large refused.out
expect_text refused.out "not enough room on drive E: for the module set"
expect_text refused.out "Needed: 3.01 MB, free: "
# The box gives units; the log the exact counts.
printf '' | timeout 60 ./large --drive "E=$E" /silent /accept "/log=$WORK/room.log" > /dev/null 2>&1
expect_text "$WORK/room.log" "room in E:\\: $NEEDED bytes needed, $FREE bytes free"
[ "$(snapshot)" = "$BEFORE" ] || fail "the drive changed: $(diff <(echo "$BEFORE") <(snapshot))"
[ -z "$(ls -A "$TMPDIR")" ] || fail "the temporary folder keeps: $(ls -A "$TMPDIR")"

# Room is counted for the whole set before the first write: two modules
# that each fit but not together leave an empty drive, with their own code
# for a deployment tool.
chmod -R u+w "$E" && rm -rf "${E:?}"/*
head -c $((2 << 20)) /dev/urandom > "payload/$UTILITY"
head -c $((2 << 20)) /dev/urandom > payload/manual.pdf
cp "$TOOLS/brelvane-sim" pair
"$TOOLS/oempack" add-predef pair --ovin "payload/$UTILITY" > /dev/null || fail "pair not built"
"$TOOLS/oempack" add-predef pair --ovin payload/manual.pdf --ovin-root Brelvane > /dev/null ||
  fail "pair not built"
BEFORE=$(snapshot)
PAGER=cat timeout 60 ./pair --drive "E=$E" /silent /accept "/log=$WORK/pair.log" > pair.out 2>&1
[ $? -eq 14 ] || fail "a set too large for the drive does not end with 14: $(cat pair.out)"
expect_text pair.log "not enough room on drive E: for the module set"
[ "$(snapshot)" = "$BEFORE" ] || fail "the drive changed: $(diff <(echo "$BEFORE") <(snapshot))"
exit $FAILED
