#!/usr/bin/env bash
# oempack and damaged or crafted installers: the content check (verify, list,
# extract), the 2 GiB limit, and module names that would escape the output
# folder.  $1 is the folder that holds the oempack program.
set -u
OEMPACK="$1/oempack"
# shellcheck source=cli_lib.bash
source "$(dirname "$0")/cli_lib.bash"
cli_workdir
cd "$WORK" || exit 1

# flip FILE OFFSET: inverts one byte in place.
flip() {
  python3 -c 'import sys; f=open(sys.argv[1],"r+b"); o=int(sys.argv[2]); f.seek(o); b=f.read(1); f.seek(o); f.write(bytes([b[0]^0xFF]))' "$1" "$2"
}

head -c 4096 /dev/zero > setup.exe
head -c 3000 /dev/urandom > first.bin
head -c 5000 /dev/urandom > second.bin
"$OEMPACK" add setup.exe first.bin && "$OEMPACK" add setup.exe second.bin || fail "setting up"

# ---- sound packages ----
expect_rc 0 "$OEMPACK" verify setup.exe
expect_text out.txt "2 module(s), 2 checked and sound"
expect_rc 0 "$OEMPACK" list setup.exe --json
python3 -c 'import json,sys; r=json.load(open(sys.argv[1])); assert [m["checked"] for m in r]==[True,True], r' out.txt \
  || fail "list --json does not show both modules checked"

# ---- a damaged byte in each module in turn ----
for case in "first.bin 4096" "second.bin $((4096 + 3000 + 660 + 4999))"; do
  set -- $case
  cp setup.exe damaged.exe
  flip damaged.exe "$2"
  expect_rc 1 "$OEMPACK" verify damaged.exe
  expect_text err.txt "module \"$1\" at offset"
  expect_text err.txt "damaged"
  [ "$(wc -l < err.txt)" -eq 1 ] || fail "verify prints one line per damaged module: $(cat err.txt)"
  expect_rc 1 "$OEMPACK" extract damaged.exe "$1" -o out.bin
  expect_text err.txt "damaged"
  [ -e out.bin ] && fail "a damaged $1 left a file behind"
done
# The scrambled quarter and the plain rest of a chunk are both covered.
cp setup.exe damaged.exe
flip damaged.exe $((4096 + 1024 + 700))
expect_rc 1 "$OEMPACK" verify damaged.exe
# Damage in both: two lines.
flip damaged.exe $((4096 + 3000 + 660 + 10))
expect_rc 1 "$OEMPACK" verify damaged.exe
[ "$(wc -l < err.txt)" -eq 2 ] || fail "two damaged modules, two lines: $(cat err.txt)"

# ---- records without a check (zero or 0xCD reserved bytes) read as before ----
for filler in '\x00' '\xcd'; do
  cp setup.exe unchecked.exe
  python3 - unchecked.exe "$filler" <<'PY'
import sys
path, filler = sys.argv[1], sys.argv[2].encode().decode('unicode_escape').encode('latin-1')
data = bytearray(open(path, 'rb').read())
record = len(data) - 660
data[record + 68:record + 132] = filler * 64
open(path, 'wb').write(data)
PY
  expect_rc 0 "$OEMPACK" verify unchecked.exe
  expect_text out.txt "1 checked and sound, 1 without a check"
  expect_rc 0 "$OEMPACK" list unchecked.exe
  sed -n 2p out.txt | grep -qE '^second\.bin .* no$' || fail "unchecked row: $(sed -n 2p out.txt)"
  expect_rc 0 "$OEMPACK" extract unchecked.exe second.bin -o unchecked.out
  cmp -s second.bin unchecked.out || fail "an unchecked module did not extract as before"
  rm -f unchecked.out
done

# ---- a foreign record: one line, exit 1 ----
cp setup.exe foreign.exe
append_foreign_record foreign.exe
expect_rc 1 "$OEMPACK" verify foreign.exe
expect_text err.txt "foreign record ending at offset $(size_of foreign.exe)"

# ---- the 2 GiB limit: refused before anything is written ----
cp setup.exe big.exe
"$OEMPACK" add big.exe first.bin > /dev/null 2>&1
truncate -s $((2147483647 - 3000 - 660 + 1)) big.exe  # one byte too many for first.bin
size_before=$(size_of big.exe)
expect_rc 1 "$OEMPACK" add big.exe first.bin
expect_text err.txt "2 GiB"
[ "$(size_of big.exe)" -eq "$size_before" ] || fail "a refused append changed the installer's size"
# One byte less and it fits: the limit is where it says.
truncate -s $((2147483647 - 3000 - 660)) big.exe
expect_rc 0 "$OEMPACK" add big.exe first.bin
[ "$(size_of big.exe)" -eq 2147483647 ] || fail "the last append below 2 GiB"
rm -f big.exe

# A module behind 2 GiB is out of the installer's reach: list and verify say
# so, as extract does (sparse, so it costs no disk).
truncate -s $((2147483648 + 4096)) far.exe
tail -c +4097 setup.exe >> far.exe
for command in list verify; do
  expect_rc 1 "$OEMPACK" "$command" far.exe
  expect_text err.txt "beyond 2 GiB"
done
rm -f far.exe

# ---- a file-size limit fails the write like a full disk ----
cp setup.exe limited.exe
head -c 30000 /dev/urandom > large.bin
(ulimit -f 20; "$OEMPACK" add limited.exe large.bin) > out.txt 2> err.txt
[ $? -eq 1 ] || fail "add under a file-size limit: $(cat err.txt)"
expect_text err.txt "not enough space"
cmp -s limited.exe setup.exe || fail "a failed add under a file-size limit changed the installer"
expect_rc 0 "$OEMPACK" list limited.exe
[ "$(wc -l < out.txt)" -eq 3 ] || fail "modules after a failed add: $(cat out.txt)"
(ulimit -f 2; "$OEMPACK" extract setup.exe second.bin -o limited.out) > out.txt 2> err.txt
[ $? -eq 1 ] || fail "extract under a file-size limit: $(cat err.txt)"
[ -e limited.out ] && fail "extract under a file-size limit left a file"

# ---- names that would land elsewhere than the output folder ----
mkdir out && cd out || exit 1
for name in '..' 'a.' 'con.txt' 'NUL ' 'COM1' 'x:y' 'aux'; do
  cp ../setup.exe crafted.exe
  python3 - crafted.exe "$name" <<'PY'
import sys
path, name = sys.argv[1], sys.argv[2].encode('latin-1')
data = bytearray(open(path, 'rb').read())
field = len(data) - 660 + 132
data[field:field + 260] = name + bytes(260 - len(name))
open(path, 'wb').write(data)
PY
  expect_rc 1 "$OEMPACK" extract crafted.exe "$name"
  expect_text err.txt "not safe as a file name"
  [ "$(ls -A | grep -v '^crafted\.exe$' | grep -v -e '^out.txt$' -e '^err.txt$')" = "" ] \
    || fail "extracting \"$name\" wrote $(ls -A)"
  # Named explicitly, the output goes where the user said.
  expect_rc 0 "$OEMPACK" extract crafted.exe "$name" -o chosen.bin
  cmp -s ../second.bin chosen.bin || fail "extract -o of \"$name\""
  rm -f chosen.bin
done
cd .. || exit 1
[ "$(ls -A out | grep -v -e '^crafted\.exe$' -e '^out.txt$' -e '^err.txt$')" = "" ] || fail "stray files: $(ls -A out)"

exit $FAILED
