#!/usr/bin/env bash
# An append that a real signal kills half-way, and readers that run while a
# large append is in progress: every earlier module stays in reach, and the
# next add cuts the partial tail away.  $1 is the folder that holds oempack.
set -u
OEMPACK="$1/oempack"
# shellcheck source=cli_lib.bash
source "$(dirname "$0")/cli_lib.bash"
cli_workdir
cd "$WORK" || exit 1

head -c 4096 /dev/zero > setup.exe
printf 'first module' > first.txt
printf 'second module' > second.txt
"$OEMPACK" add setup.exe first.txt && "$OEMPACK" add setup.exe second.txt || fail "setting up"
BEFORE=$(size_of setup.exe)
head -c $((96 * 1024 * 1024)) /dev/urandom > big.bin

# start_big_add: an add of big.bin in the background ($WRITER), back once
# bytes of it have reached the installer (its append is in progress) or it
# has ended.
start_big_add() {
  "$OEMPACK" add setup.exe big.bin 2> writer.err &
  WRITER=$!
  while kill -0 "$WRITER" 2> /dev/null && [ "$(size_of setup.exe)" -le "$BEFORE" ]; do :; done
}

# Readers during the append: they wait for it and never see fewer modules.
start_big_add
"$OEMPACK" list setup.exe > list.txt 2>&1 || fail "list during an append: $(cat list.txt)"
expect_text list.txt "first.txt"
"$OEMPACK" verify setup.exe > verify.txt 2>&1 || fail "verify during an append: $(cat verify.txt)"
grep -qE '^[23] module\(s\)' verify.txt || fail "verify during an append: $(cat verify.txt)"
wait "$WRITER" || fail "the add beside readers: $(cat writer.err)"
"$OEMPACK" verify setup.exe > verify.txt 2>&1
expect_text verify.txt "3 module(s), 3 checked and sound"

# Killed half-way: tried until the signal lands while the append runs.
head -c 4096 /dev/zero > setup.exe
"$OEMPACK" add setup.exe first.txt && "$OEMPACK" add setup.exe second.txt || fail "setting up"
killed=0
for _ in 1 2 3 4 5; do
  start_big_add
  if kill -KILL "$WRITER" 2> /dev/null; then
    wait "$WRITER" 2> /dev/null
    if [ -e setup.exe-journal ] && [ "$(size_of setup.exe)" -gt "$BEFORE" ]; then
      killed=1
      break
    fi
  fi
  wait "$WRITER" 2> /dev/null
  # Finished before the signal: start again from the two modules.
  head -c 4096 /dev/zero > setup.exe
  "$OEMPACK" add setup.exe first.txt && "$OEMPACK" add setup.exe second.txt
done
[ "$killed" -eq 1 ] || fail "no try killed the add while it was appending"
expect_rc 0 "$OEMPACK" verify setup.exe
expect_text out.txt "2 module(s), 2 checked and sound"
expect_text err.txt "an interrupted append left"
expect_rc 0 "$OEMPACK" extract setup.exe first.txt -o first.out
cmp -s first.txt first.out || fail "the earlier module came back different"
printf 'third module' > third.txt
expect_rc 0 "$OEMPACK" add setup.exe third.txt
[ ! -e setup.exe-journal ] || fail "the journal outlived the next add"
[ "$(size_of setup.exe)" -eq $((BEFORE + 12 + 660)) ] || fail "the partial tail was not cut away"
expect_rc 0 "$OEMPACK" verify setup.exe
expect_text out.txt "3 module(s), 3 checked and sound"
exit $FAILED
