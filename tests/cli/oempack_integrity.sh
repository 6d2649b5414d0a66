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
  sed -n 2p out.txt | grep -qE '^second\.bin .* no +never \(carried only\)$' || fail "unchecked row: $(sed -n 2p out.txt)"
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

# ---- a program's stray bytes: a killed add's tail that a copy kept ----
make_pe_image program.exe
"$OEMPACK" add program.exe first.bin && "$OEMPACK" add program.exe second.bin || fail "setting up the program"
cp program.exe stray.exe
head -c 1000 /dev/urandom >> stray.exe
for command in list verify; do
  expect_rc 1 "$OEMPACK" "$command" stray.exe
  expect_text err.txt "1000 stray byte(s) follow the last whole module (2 module(s), ending at offset $(size_of program.exe))"
done
cp stray.exe before.exe
for command in "add stray.exe first.bin" "add-predef stray.exe --ovin first.bin" "unsign stray.exe"; do
  # shellcheck disable=SC2086
  expect_rc 1 "$OEMPACK" $command
  expect_text err.txt "oempack repair"
  cmp -s before.exe stray.exe || fail "$command changed a program with stray bytes"
done
expect_rc 0 "$OEMPACK" repair stray.exe
expect_text out.txt "cutting 1000 stray byte(s) that follow the last whole module"
expect_text out.txt "keeping 2 module(s)"
cmp -s program.exe stray.exe || fail "repair did not cut back to the last whole module"
[ ! -e stray.exe-journal ] || fail "repair left its journal"
expect_rc 0 "$OEMPACK" repair stray.exe
expect_text out.txt "nothing to cut"
expect_rc 1 "$OEMPACK" repair first.bin
expect_text err.txt "not a Windows program"

# ---- a security entry over the last module is no signature ----
cp program.exe crafted.exe
python3 - crafted.exe <<'PY'
import struct, sys
path = sys.argv[1]
data = bytearray(open(path, 'rb').read())
entry = struct.unpack_from('<I', data, 0x3C)[0] + 24 + 112 + 4 * 8
struct.pack_into('<II', data, entry, len(data) - 664, 664)
open(path, 'wb').write(data)
PY
cp crafted.exe before.exe
expect_rc 0 "$OEMPACK" verify crafted.exe
expect_text out.txt "2 module(s), 2 checked and sound, 0 without a check; not signed"
expect_rc 1 "$OEMPACK" unsign crafted.exe
expect_text err.txt "no certificate table"
cmp -s before.exe crafted.exe || fail "unsign cut a module that a security entry lay over"

# ---- journals: a planted one hides and cuts nothing, another file is never removed ----
# plant_journal PACKAGE LENGTH: the journal a writer puts beside PACKAGE,
# recording LENGTH (anyone who reads the package can compute it).
plant_journal() {
  python3 - "$1" "$2" <<'PY'
import struct, sys, zlib
path, length = sys.argv[1], int(sys.argv[2])
data = open(path, 'rb').read()
body = b'BRVJRNL1' + struct.pack('>QI', length, zlib.crc32(data[max(0, length - 660):length]))
open(path + '-journal', 'wb').write(body + struct.pack('>I', zlib.crc32(body)))
PY
}
for length in 0 512; do
  cp program.exe planted.exe
  plant_journal planted.exe "$length"
  expect_rc 0 "$OEMPACK" list planted.exe
  [ "$(wc -l < out.txt)" -eq 3 ] || fail "a journal planted at $length hid modules: $(cat out.txt)"
  expect_text err.txt "stale journal"
  expect_rc 0 "$OEMPACK" add planted.exe first.bin
  [ "$(size_of planted.exe)" -eq $(( $(size_of program.exe) + 3000 + 660 )) ] || fail "an add beside a journal planted at $length cut the program"
  [ ! -e planted.exe-journal ] || fail "the stale journal planted at $length outlived the add"
done
cp program.exe noted.exe
printf 'my notes' > noted.exe-journal
for command in "add noted.exe first.bin" "unsign noted.exe"; do
  # shellcheck disable=SC2086
  expect_rc 1 "$OEMPACK" $command
  expect_text err.txt "noted.exe-journal holds the name of noted.exe's journal but is not a journal"
  [ "$(cat noted.exe-journal)" = "my notes" ] || fail "$command removed a file that is no journal"
  cmp -s program.exe noted.exe || fail "$command changed the program beside a file that is no journal"
done
rm noted.exe-journal
mkfifo noted.exe-journal
expect_rc 1 "$OEMPACK" add noted.exe first.bin
expect_text err.txt "cannot append first.bin to noted.exe: the journal noted.exe-journal: it is not a regular file"
rm noted.exe-journal
if [ "$(id -u)" -ne 0 ]; then  # root writes into a read-only folder
  mkdir locked && cp program.exe locked/ && chmod a-w locked
  expect_rc 1 "$OEMPACK" add locked/program.exe first.bin
  expect_text err.txt "the journal locked/program.exe-journal"
  chmod u+w locked
fi

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
  reseal_record crafted.exe
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
