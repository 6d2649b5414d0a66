#!/usr/bin/env bash
# A drive with room for the file it holds but not for its replacement beside
# it (a small tmpfs): Yes to the Overwrite question is refused before
# anything is written, with the drive, the bytes needed and the bytes free,
# and the drive stays as it was, bytes, modes, times and extended attributes.
# Needs root to mount; skipped otherwise.  $1 is the folder holding
# brelvane-sim and oempack.
set -u
TOOLS=$1
# shellcheck source=cli_lib.bash
source "$(dirname "$0")/cli_lib.bash"
cli_workdir
cd "$WORK" || exit 1

E=$WORK/E
mkdir E
if [ "$(id -u)" -ne 0 ] || ! mount -t tmpfs -o size=4m brelvane-test "$E" 2> mount.err; then
  echo "SKIPPED: cannot mount a tmpfs as the drive (needs root): $(cat mount.err 2> /dev/null)"
  exit 0
fi
trap 'umount "$E"; chmod -R u+w "$WORK" 2>/dev/null; rm -rf "$WORK"' EXIT

SIZE=$((3 << 20))
mkdir payload
head -c $SIZE /dev/urandom > "payload/Brelvane v1.0.exe"
cp "$TOOLS/brelvane-sim" package
"$TOOLS/oempack" add-predef package --ovin "payload/Brelvane v1.0.exe" > /dev/null ||
  fail "package not built"
head -c $SIZE /dev/urandom > "$E/Brelvane v1.0.exe"
chmod 444 "$E/Brelvane v1.0.exe"
# Every entry's bytes, mode, size, times and extended attributes, the
# drive's root folder with them (an entry made and removed again changes it).
snapshot() {
  (cd "$E" && find . -printf '%p %m %s %T@ %C@\n' | sort &&
    find . -type f -exec sha1sum {} + | sort && getfattr -R -d -m - . 2> /dev/null)
}
BEFORE=$(snapshot)
FREE=$(($(stat -f -c '%a * %S' "$E")))

printf 'accept\ninstall\nyes\n' | PAGER=cat timeout 60 ./package --drive "E=$E" > run.out 2>&1
expect_text run.out "not enough room on drive E:"
expect_text run.out "$SIZE bytes are needed, $FREE bytes are free"
[ "$(snapshot)" = "$BEFORE" ] || fail "the drive changed: $(diff <(echo "$BEFORE") <(snapshot))"
exit $FAILED
