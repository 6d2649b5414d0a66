#!/usr/bin/env bash
# oempack.exe on the Win32 backend under Wine: an installer on a mapped drive
# E:, driven with Windows paths.  Prints "PASS oempack.<step>" or
# "FAIL oempack.<step>" lines; exits non-zero when one fails.
set -u
ROOT=${ROOT:-$(cd "$(dirname "$0")/../.." && pwd)}
# shellcheck source=harness.sh
source "$ROOT/tests/wine/harness.sh"
# shellcheck source=scenario_lib.bash
source "$ROOT/tests/wine/scenario_lib.bash"
OEMPACK_EXE=${OEMPACK_EXE:-$ROOT/out/win/oempack.exe}

if [ ! -f "$OEMPACK_EXE" ]; then
  scenario_fail "oempack (no $OEMPACK_EXE)"
  scenario_exit
fi

DRIVE=$(mktemp -d)
wine_prefix oempack
wine_drive E "$DRIVE"
wine_start
trap 'wine_stop; chmod -R u+w "$DRIVE"; rm -rf "$DRIVE"' EXIT

# run CODE STEP ARGS...: runs oempack.exe, stdout in $OUT (line ends cut),
# stderr in $ERR; passes when the exit code is CODE and the check (if any)
# that follows with `check` holds.
OUT=$DRIVE/.out
ERR=$DRIVE/.err
run() {
  local want=$1 step=$2; shift 2
  "$WINE64" "$OEMPACK_EXE" "$@" > "$OUT.raw" 2> "$ERR"
  local got=$?
  tr -d '\r' < "$OUT.raw" > "$OUT"
  if [ "$got" -ne "$want" ]; then
    scenario_fail "oempack.$step (exit $got, expected $want: $(tr -d '\r' < "$ERR"))"
    return 1
  fi
  return 0
}
# verdict STEP CONDITION-RESULT; a failed step shows what the program said.
verdict() {
  scenario_verdict "oempack.$1" "$2"
  [ "$2" -eq 0 ] || { echo "  stdout: $(cat "$OUT")"; echo "  stderr: $(tr -d '\r' < "$ERR")"; }
}

head -c 4096 /dev/zero > "$DRIVE/setup.exe"
head -c 5000 /dev/urandom > "$DRIVE/a.bin"
head -c 1025 /dev/urandom > "$DRIVE/kestrin.exe"

run 0 version --version && { grep -q 'oempack 1.0' "$OUT"; verdict version $?; }
run 2 usage list && scenario_pass oempack.usage

run 1 missing-installer add 'E:\missing.exe' 'E:\a.bin' && {
  [ ! -e "$DRIVE/missing.exe" ] && grep -q 'missing.exe' "$ERR"; verdict missing-installer $?; }

run 0 add add 'E:\setup.exe' 'E:\a.bin' && {
  [ "$(stat -c %s "$DRIVE/setup.exe")" -eq $((4096 + 5000 + 660)) ]; verdict add $?; }

run 0 add-predef add-predef 'E:\setup.exe' --kestrin 'E:\kestrin.exe' --kestrin-root 'tools\lock' \
  --kestrin-attr rh && scenario_pass oempack.add-predef

run 0 list list 'E:\setup.exe' && {
  sed -n 2p "$OUT" | grep -qE '^kestrin\.exe +Yes-KESTRIN +1025 +Root\\tools\\lock +Read Only, Hidden +yes +Kestrin drives$' &&
    sed -n 3p "$OUT" | grep -qE '^a\.bin +5000 +User Defined +Normal +yes +never \(carried only\)$'
  verdict list $?; }

run 0 json list 'E:\setup.exe' --json && {
  python3 - "$OUT" <<'EOF'
import json, sys
rows = json.load(open(sys.argv[1]))
assert [r["name"] for r in rows] == ["kestrin.exe", "a.bin"], rows
assert rows[0]["model"] == "kestrin" and rows[0]["attributes"] == 3 and rows[1]["offset"] == 4096
EOF
  verdict json $?; }

run 0 extract extract 'E:\setup.exe' kestrin.exe -o 'E:\k.out' && {
  cmp -s "$DRIVE/kestrin.exe" "$DRIVE/k.out" && [ -w "$DRIVE/k.out" ]; verdict extract $?; }

printf 'keep me' > "$DRIVE/existing.out"
chmod a-w "$DRIVE/existing.out"
run 1 refuse-existing extract 'E:\setup.exe' a.bin -o 'E:\existing.out' && {
  [ "$(cat "$DRIVE/existing.out")" = "keep me" ]; verdict refuse-existing $?; }
run 0 force-read-only extract 'E:\setup.exe' a.bin -o 'E:\existing.out' --force && {
  cmp -s "$DRIVE/a.bin" "$DRIVE/existing.out"; verdict force-read-only $?; }

run 1 exact-name extract 'E:\setup.exe' a.bi -o 'E:\prefix.out' && {
  [ ! -e "$DRIVE/prefix.out" ]; verdict exact-name $?; }

# Extraction never removes the installer it reads: not by another spelling,
# not through a hard link, not for a module that carries its name.
cp "$DRIVE/setup.exe" "$DRIVE/self.exe"
mkdir "$DRIVE/named" && head -c 100 /dev/urandom > "$DRIVE/named/self.exe"
"$WINE64" "$OEMPACK_EXE" add 'E:\self.exe' 'E:\named\self.exe' > /dev/null 2>&1
ln "$DRIVE/self.exe" "$DRIVE/self-hard.exe"
cp "$DRIVE/self.exe" "$DRIVE/self.before"
for case in 'spelling E:\SELF.EXE' 'hard-link E:\self-hard.exe' 'module-name'; do
  set -- $case
  step=extract-self-$1
  (cd "$DRIVE" && run 1 "$step" extract 'E:\self.exe' self.exe ${2:+-o "$2"} --force) && {
    grep -q 'is the installer' "$ERR" && cmp -s "$DRIVE/self.exe" "$DRIVE/self.before"
    verdict "$step" $?; }
done

# A folder the ANSI code page (1252 here) cannot name, in a UTF-8 locale: the
# installer and the source in it open, the name "é.txt" is stored as its one
# 1252 byte (listed as the UTF-8 of its character), and extracting it by that
# name without -o writes "é.txt" here.
NON_ANSI=Пользователь
mkdir -p "$DRIVE/$NON_ANSI/out"
head -c 4096 /dev/zero > "$DRIVE/$NON_ANSI/setup.exe"
printf 'accented name' > "$DRIVE/$NON_ANSI/é.txt"
LANG=C.UTF-8 LC_ALL=C.UTF-8 run 0 non-ansi-add add "E:\\$NON_ANSI\\setup.exe" "E:\\$NON_ANSI\\é.txt" && {
  LANG=C.UTF-8 LC_ALL=C.UTF-8 "$WINE64" "$OEMPACK_EXE" list "E:\\$NON_ANSI\\setup.exe" 2>/dev/null |
    LC_ALL=C grep -q "^é\.txt "
  verdict non-ansi-add $?; }
(cd "$DRIVE/$NON_ANSI/out" && LANG=C.UTF-8 LC_ALL=C.UTF-8 run 0 non-ansi-extract extract \
  "E:\\$NON_ANSI\\setup.exe" 'é.txt') && {
  cmp -s "$DRIVE/$NON_ANSI/é.txt" "$DRIVE/$NON_ANSI/out/é.txt"; verdict non-ansi-extract $?; }

# A device as the installer or as the file to add is refused at once.
cp "$DRIVE/setup.exe" "$DRIVE/before.exe"
run 1 device-installer add NUL 'E:\a.bin' && { grep -q 'not a regular file' "$ERR"; verdict device-installer $?; }
# As a source, NUL's name alone already breaks the name rule.
run 1 device-source add 'E:\setup.exe' NUL && {
  grep -q 'reserved device name' "$ERR" && cmp -s "$DRIVE/setup.exe" "$DRIVE/before.exe"; verdict device-source $?; }

# A foreign newest record: listed as an error naming its offset; add refuses.
{ head -c 4 /dev/zero; printf 'NOT_A_MODULE'; head -c 640 /dev/zero; printf '\x00\x00\x02\x94'; } >> "$DRIVE/setup.exe"
cp "$DRIVE/setup.exe" "$DRIVE/before.exe"
size=$(stat -c %s "$DRIVE/setup.exe")
run 1 foreign-list list 'E:\setup.exe' && { grep -q "offset $size" "$ERR"; verdict foreign-list $?; }
run 1 foreign-add add 'E:\setup.exe' 'E:\a.bin' && {
  cmp -s "$DRIVE/setup.exe" "$DRIVE/before.exe"; verdict foreign-add $?; }

# A reader while a large add is in progress waits for it under the
# installer's lock and never sees fewer modules; a journal left by an append
# that died half-way hides no earlier module, and the next add cuts its tail.
head -c 4096 /dev/zero > "$DRIVE/grow.exe"
run 0 grow-first add 'E:\grow.exe' 'E:\a.bin'
before=$(stat -c %s "$DRIVE/grow.exe")
head -c $((192 * 1024 * 1024)) /dev/zero > "$DRIVE/big.bin"
"$WINE64" "$OEMPACK_EXE" add 'E:\grow.exe' 'E:\big.bin' > "$OUT.writer" 2>&1 &
writer=$!
while kill -0 "$writer" 2> /dev/null && [ "$(stat -c %s "$DRIVE/grow.exe")" -le "$before" ]; do :; done
run 0 reader-during-add list 'E:\grow.exe' && {
  grep -qE '^a\.bin ' "$OUT"; verdict reader-during-add $?; }
wait "$writer"
writer_rc=$?
# The add beside the reader must itself succeed; a failure names its words.
[ "$writer_rc" -eq 0 ] || echo "  the large add exited $writer_rc: $(tr -d '\r' < "$OUT.writer")"
run 0 after-add verify 'E:\grow.exe' && { grep -q '^2 module(s), 2 checked and sound' "$OUT"; verdict after-add $?; }
rm -f "$DRIVE/big.bin"

# The journal an append leaves when it dies after its first bytes: the
# former length, the CRC-32 of the record before it, and the journal's own
# CRC-32, as a killed add on this package would leave them.
python3 - "$DRIVE/grow.exe" "$before" <<'PY'
import struct, sys, zlib
path, former = sys.argv[1], int(sys.argv[2])
data = open(path, 'rb').read(former)
with open(path, 'r+b') as f:
    f.truncate(former)
    f.seek(former)
    f.write(b'\x5a' * 70000)
head = b'BRVJRNL1' + struct.pack('>II', former >> 32, former & 0xFFFFFFFF) + \
    struct.pack('>I', zlib.crc32(data[former - 660:former]))
open(path + '-journal', 'wb').write(head + struct.pack('>I', zlib.crc32(head)))
PY
run 0 interrupted-list list 'E:\grow.exe' && { grep -qE '^a\.bin ' "$OUT"; verdict interrupted-list $?; }
run 0 interrupted-add add 'E:\grow.exe' 'E:\kestrin.exe' && {
  [ ! -e "$DRIVE/grow.exe-journal" ] && [ "$(stat -c %s "$DRIVE/grow.exe")" -eq $((before + 1025 + 660)) ]
  verdict interrupted-add $?; }

# A signed installer on the Win32 backend: read before its certificate
# table, never appended to, unsigned in place and signed again.
SETUP_EXE=${SETUP_EXE:-$ROOT/out/win/brelvane-setup.exe}
if [ -f "$SETUP_EXE" ] && command -v osslsigncode > /dev/null && command -v openssl > /dev/null; then
  KEYS=$(mktemp -d)
  openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj "/CN=Brelvane test signer" \
    -keyout "$KEYS/key.pem" -out "$KEYS/cert.pem" > /dev/null 2>&1
  osign() { osslsigncode sign -certs "$KEYS/cert.pem" -key "$KEYS/key.pem" -in "$1" -out "$2" > /dev/null 2>&1; }
  cp "$SETUP_EXE" "$DRIVE/unsigned.exe"
  run 0 signed-setup add 'E:\unsigned.exe' 'E:\a.bin'
  osign "$DRIVE/unsigned.exe" "$DRIVE/signed.exe"
  run 0 signed-verify verify 'E:\signed.exe' && {
    grep -q '^1 module(s), 1 checked and sound, 0 without a check; signed, certificate table of' "$OUT"
    verdict signed-verify $?; }
  cp "$DRIVE/signed.exe" "$DRIVE/before.exe"
  run 1 signed-add add 'E:\signed.exe' 'E:\kestrin.exe' && {
    grep -q 'is signed' "$ERR" && cmp -s "$DRIVE/signed.exe" "$DRIVE/before.exe"; verdict signed-add $?; }
  run 0 signed-unsign unsign 'E:\signed.exe' && {
    # Byte for byte the unsigned installer, but for its recomputed checksum.
    python3 - "$DRIVE/signed.exe" "$DRIVE/unsigned.exe" <<'PY'
import struct, sys
a, b = (bytearray(open(p, 'rb').read()) for p in sys.argv[1:3])
field = struct.unpack_from('<I', a, 0x3C)[0] + 88
a[field:field + 4] = b[field:field + 4] = bytes(4)
sys.exit(0 if a == b else 1)
PY
    verdict signed-unsign $?; }
  run 0 signed-add-after-unsign add 'E:\signed.exe' 'E:\kestrin.exe'
  # The same in a folder the ANSI code page cannot name: unsign opens the
  # installer for update by its wide name.
  DOWNLOADS=Загрузки
  mkdir "$DRIVE/$DOWNLOADS" && cp "$DRIVE/before.exe" "$DRIVE/$DOWNLOADS/signed.exe"
  LANG=C.UTF-8 LC_ALL=C.UTF-8 run 0 non-ansi-unsign unsign "E:\\$DOWNLOADS\\signed.exe" && {
    grep -q '^removed the signature' "$OUT"; verdict non-ansi-unsign $?; }
  LANG=C.UTF-8 LC_ALL=C.UTF-8 run 0 non-ansi-add-after-unsign add "E:\\$DOWNLOADS\\signed.exe" \
    'E:\kestrin.exe' && {
    LANG=C.UTF-8 LC_ALL=C.UTF-8 run 0 non-ansi-list-after-unsign list "E:\\$DOWNLOADS\\signed.exe" &&
      [ "$(grep -cE '^(a\.bin|kestrin\.exe) ' "$OUT")" -eq 2 ]
    verdict non-ansi-add-after-unsign $?; }
  osign "$DRIVE/signed.exe" "$DRIVE/resigned.exe"
  osslsigncode verify -in "$DRIVE/resigned.exe" -CAfile "$KEYS/cert.pem" > /dev/null 2>&1
  verdict signed-again-verifies $?
  run 0 signed-again-list list 'E:\resigned.exe' && {
    [ "$(grep -cE '^(a\.bin|kestrin\.exe) ' "$OUT")" -eq 2 ]; verdict signed-again-list $?; }
  # A killed add's tail that a copy kept: stray bytes behind the last whole
  # module, which verify counts, add refuses and repair cuts.
  cp "$DRIVE/unsigned.exe" "$DRIVE/stray.exe"
  head -c 1000 /dev/urandom >> "$DRIVE/stray.exe"
  cp "$DRIVE/stray.exe" "$DRIVE/before.exe"
  run 1 stray-verify verify 'E:\stray.exe' && {
    grep -q '1000 stray byte(s) follow the last whole module (1 module(s)' "$ERR"; verdict stray-verify $?; }
  run 1 stray-add add 'E:\stray.exe' 'E:\kestrin.exe' && {
    grep -q 'oempack repair' "$ERR" && cmp -s "$DRIVE/stray.exe" "$DRIVE/before.exe"; verdict stray-add $?; }
  run 0 repair repair 'E:\stray.exe' && { cmp -s "$DRIVE/stray.exe" "$DRIVE/unsigned.exe"; verdict repair $?; }
  rm -rf "$KEYS"
else
  scenario_fail "oempack.signed (needs $SETUP_EXE, osslsigncode and openssl)"
fi

# A manifest built by the Windows program, with a path as Windows writes it,
# to the bytes the Linux build gives, described and built again to the same bytes.
head -c 4096 /dev/zero > "$DRIVE/empty.exe"
# A name from code page 1252's upper half: the same byte from both hosts.
printf 'x' > "$DRIVE/Café €.bin"
printf '%s\n' 'base = "empty.exe"' '[[module]]' 'source = "a.bin"' 'set = "ovin"' \
  'folder = "Brelvane\\Docs"' '[[module]]' 'source = "kestrin.exe"' '[[module]]' \
  'source = "Café €.bin"' > "$DRIVE/installer.toml"
run 0 build build 'E:\installer.toml' -o 'E:\built.exe' && {
  [ -s "$DRIVE/built.exe" ] && [ -z "$(find "$DRIVE" -maxdepth 1 -name '~BV*')" ]
  verdict build $?; }
# The output may not be the manifest: refused, the manifest as it was.
cp "$DRIVE/installer.toml" "$DRIVE/kept.toml"
run 1 build-onto-manifest build 'E:\installer.toml' -o 'E:\INSTALLER.TOML' &&
  { cmp -s "$DRIVE/installer.toml" "$DRIVE/kept.toml"; verdict build-onto-manifest $?; }
# The Linux build of oempack gives the same bytes from the same manifest.
if [ -x "${OEMPACK:-}" ]; then
  "$OEMPACK" build "$DRIVE/installer.toml" -o "$DRIVE/native.exe" > /dev/null &&
    cmp -s "$DRIVE/built.exe" "$DRIVE/native.exe"
  verdict build-same-as-native $?
else
  scenario_fail "oempack.build-same-as-native (no Linux oempack in \$OEMPACK)"
fi
run 0 describe describe 'E:\built.exe' --to 'E:\described' && {
  grep -q '^folder = "Brelvane\\\\Docs"$' "$DRIVE/described/installer.toml"; verdict describe $?; }
run 0 build-described build 'E:\described\installer.toml' -o 'E:\rebuilt.exe' && {
  cmp -s "$DRIVE/built.exe" "$DRIVE/rebuilt.exe"; verdict build-described $?; }
# Another code page, named by the manifest: Cyrillic names in 1251 give the
# Linux build's bytes, and describe with it builds them again.
export LANG=C.UTF-8 LC_ALL=C.UTF-8
printf 'x' > "$DRIVE/Привет.bin"
printf '%s\n' 'base = "empty.exe"' 'code-page = 1251' '[[module]]' 'source = "Привет.bin"' \
  > "$DRIVE/ru.toml"
run 0 build-1251 build 'E:\ru.toml' -o 'E:\ru.exe' && {
  LC_ALL=C grep -q -a $'\xcf\xf0\xe8\xe2\xe5\xf2.bin' "$DRIVE/ru.exe" &&
    { [ ! -x "${OEMPACK:-}" ] || { "$OEMPACK" build "$DRIVE/ru.toml" -o "$DRIVE/ru-native.exe" > /dev/null &&
      cmp -s "$DRIVE/ru.exe" "$DRIVE/ru-native.exe"; }; }
  verdict build-1251 $?; }
run 0 describe-1251 describe 'E:\ru.exe' --to 'E:\ru-described' --code-page 1251 &&
  run 0 build-described-1251 build 'E:\ru-described\installer.toml' -o 'E:\ru-again.exe' && {
  cmp -s "$DRIVE/ru.exe" "$DRIVE/ru-again.exe"; verdict describe-1251 $?; }
# describe makes its modules folder itself: a link standing there is refused.
mkdir -p "$DRIVE/linked" "$DRIVE/elsewhere" && ln -s ../elsewhere "$DRIVE/linked/modules"
run 1 describe-link describe 'E:\built.exe' --to 'E:\linked' && {
  [ -z "$(ls -A "$DRIVE/elsewhere")" ]; verdict describe-link $?; }
# diff reads the program image too: one flipped byte there is a change.
cp "$DRIVE/built.exe" "$DRIVE/flipped.exe"
printf '\x01' | dd of="$DRIVE/flipped.exe" bs=1 seek=100 conv=notrunc 2> /dev/null
run 1 diff-image diff 'E:\built.exe' 'E:\flipped.exe' && {
  grep -q 'changed the program image' "$OUT"; verdict diff-image $?; }
# A signer that fails, or leaves no signature: the output stays as it was and
# nothing is left beside it.
printf 'the old one' > "$DRIVE/kept.exe"
for row in 'exit 3|ended with 3|fails' 'rem|without a signature|unsigned'; do
  printf '%s\n' 'base = "empty.exe"' '[sign]' "command = [\"cmd\", \"/c\", \"${row%%|*}\", \"{file}\"]" \
    '[[module]]' 'source = "a.bin"' > "$DRIVE/signed.toml"
  what=${row#*|} && what=${what%|*}
  run 1 "sign-${row##*|}" build 'E:\signed.toml' -o 'E:\kept.exe' && {
    grep -q "$what" "$ERR" && [ "$(cat "$DRIVE/kept.exe")" = "the old one" ] &&
      [ -z "$(find "$DRIVE" -maxdepth 1 -name '~BV*')" ]
    verdict "sign-${row##*|}" $?; }
done
# A batch file runs through cmd.exe, a shell: refused as a signer.
printf '@echo off\r\n' > "$DRIVE/sign.cmd"
printf '%s\n' 'base = "empty.exe"' '[sign]' 'command = ["./sign.cmd", "{file}"]' '[[module]]' \
  'source = "a.bin"' > "$DRIVE/batch.toml"
run 1 sign-batch build 'E:\batch.toml' -o 'E:\kept.exe' && {
  grep -q "cannot be started" "$ERR" && [ "$(cat "$DRIVE/kept.exe")" = "the old one" ]
  verdict sign-batch $?; }
scenario_exit
