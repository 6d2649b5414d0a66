#!/usr/bin/env bash
# brelvane-sim killed by SIGKILL at random moments while it replaces a
# 256 MiB read-only file (Yes to the Overwrite question): each time the
# destination holds the old file or the new one, whole; the next run removes
# what the killed one left.  $1 is the folder holding brelvane-sim and oempack.
set -u
TOOLS=$1
# shellcheck source=cli_lib.bash
source "$(dirname "$0")/cli_lib.bash"
cli_workdir
cd "$WORK" || exit 1

head -c $((256 << 20)) /dev/urandom > new.bin
head -c $((256 << 20)) /dev/urandom > old.bin
NEW=$(sha1sum < new.bin)
OLD=$(sha1sum < old.bin)
mkdir payload && mv new.bin "payload/Brelvane v1.0.exe"
cp "$TOOLS/brelvane-sim" package
"$TOOLS/oempack" add-predef package --ovin "payload/Brelvane v1.0.exe" > /dev/null ||
  fail "package not built"
rm "payload/Brelvane v1.0.exe"
DEST="E/Brelvane v1.0.exe"

put_old_file() {
  mkdir -p E
  rm -f "$DEST" && cp old.bin "$DEST" && chmod 444 "$DEST"
}
# install: the run that replaces the file, in the background ($RUN).
install() {
  printf 'accept\ninstall\nyes\n' | PAGER=cat "./package" --drive "E=$WORK/E" > run.out 2>&1 &
  RUN=$!
}
now_ms() { echo $(($(date +%s%N) / 1000000)); }

# A whole run first: how long the kills have to land in.
put_old_file
start=$(now_ms)
install
wait "$RUN"
SPAN=$(($(now_ms) - start))
[ "$(sha1sum < "$DEST")" = "$NEW" ] || fail "a whole run did not put the new file in place"

# One kill in each eighth of that span, at a random point of it.
KILLS=8
in_copy=0
for ((i = 0; i < KILLS; i++)); do
  put_old_file
  delay=$((SPAN * (i * 1000 + RANDOM % 1000) / (KILLS * 1000)))
  install
  sleep "$(printf '%d.%03d' $((delay / 1000)) $((delay % 1000)))"
  kill -KILL "$RUN" 2> /dev/null
  wait "$RUN" 2> /dev/null
  sum=$({ sha1sum < "$DEST"; } 2> /dev/null)
  case $sum in
    "$OLD") found=old
      [ "$(stat -c %a "$DEST")" = 444 ] || fail "kill $i at $delay ms: the old file lost its read-only bit" ;;
    "$NEW") found=new ;;
    *) found=neither; fail "kill $i at $delay ms: the destination is neither the old file nor the new one" ;;
  esac
  # A staging file beside it: this kill landed while the module was written.
  [ -n "$(find E -maxdepth 1 -name '~BV*')" ] && in_copy=$((in_copy + 1))
  echo "kill $i at $delay ms of $SPAN: $found file"
done
[ "$in_copy" -gt 0 ] || fail "no kill landed while the module was being written"

# The next run clears what the killed ones left, and replaces the file.
put_old_file
install
wait "$RUN" || fail "the run after the kills: $(cat run.out)"
[ "$(sha1sum < "$DEST")" = "$NEW" ] || fail "the run after the kills did not replace the file"
leftovers=$(cd E && find . -mindepth 1 ! -name 'Brelvane v1.0.exe')
[ -z "$leftovers" ] ||
  fail "left over after the next run: $leftovers ($(cd E && for f in $leftovers; do
    printf '%s: %s bytes, mode %s, bits %s; ' "$f" "$(stat -c %s "$f")" "$(stat -c %a "$f")" \
      "$(getfattr --only-values -n user.DOSATTRIB "$f" 2>/dev/null | tr -d '\0')"; done))"
echo "$in_copy of $KILLS kills landed while the module was written"
exit $FAILED
