#!/usr/bin/env bash
# oempack and signed installers: a throwaway self-signed certificate signs
# packages with osslsigncode; list, verify and extract read them, add is
# refused, unsign gives back a package that takes modules and signs again.
# Unsigned lengths 0 to 7 past a multiple of 8 give every padding the signer
# puts before its table.  $1 is the folder that holds the oempack program.
set -u
OEMPACK="$1/oempack"
[ -x "$OEMPACK" ] || { echo "FAIL: no oempack in $1" >&2; exit 1; }
# shellcheck source=cli_lib.bash
source "$(dirname "$0")/cli_lib.bash"
cli_workdir
cd "$WORK" || exit 1
make_signer || fail "making a certificate"
make_pe_image image.exe
head -c 3000 /dev/urandom > tool.bin
head -c 100 /dev/urandom > late.txt

for pad in 0 1 2 3 4 5 6 7; do
  # The last module's size sets the unsigned length: 8 - pad past a multiple of 8.
  cp image.exe "u$pad.exe"
  "$OEMPACK" add-predef "u$pad.exe" --ovin tool.bin > /dev/null || fail "pad $pad: add-predef"
  length=$(size_of "u$pad.exe")
  head -c $(( 1000 + (8 - (length + 1000 + 660) % 8 + 8 - pad) % 8 )) /dev/urandom > notes.txt
  "$OEMPACK" add "u$pad.exe" notes.txt || fail "pad $pad: add"
  unsigned=$(size_of "u$pad.exe")
  [ $(( (8 - unsigned % 8) % 8 )) -eq "$pad" ] || fail "pad $pad: unsigned length $unsigned"
  sign "u$pad.exe" "s$pad.exe" || { fail "pad $pad: signing"; continue; }
  signature_ok "s$pad.exe" || fail "pad $pad: the signature does not verify"

  expect_rc 0 "$OEMPACK" list "s$pad.exe" --json
  python3 -c 'import json,sys; r=json.load(open(sys.argv[1])); assert [m["name"] for m in r]==["notes.txt","tool.bin"], r' out.txt \
    || fail "pad $pad: list --json of the signed file: $(cat out.txt)"
  expect_rc 0 "$OEMPACK" verify "s$pad.exe"
  expect_text out.txt "2 module(s), 2 checked and sound, 0 without a check; signed, certificate table of $(( $(size_of "s$pad.exe") - unsigned - pad )) bytes"
  expect_rc 0 "$OEMPACK" extract "s$pad.exe" notes.txt -o "x$pad.txt"
  cmp -s notes.txt "x$pad.txt" || fail "pad $pad: extracted notes.txt differs"
  # diff: signing is a change of the installer, not of its modules.
  expect_rc 1 "$OEMPACK" diff "u$pad.exe" "s$pad.exe"
  expect_text out.txt "added   a signature"
  expect_rc 0 "$OEMPACK" diff "u$pad.exe" "s$pad.exe" --modules-only

  cp "s$pad.exe" before.exe
  for command in "add s$pad.exe late.txt" "add-predef s$pad.exe --pellor late.txt"; do
    # shellcheck disable=SC2086
    expect_rc 1 "$OEMPACK" $command
    expect_text err.txt "is signed"
    expect_text err.txt "unsign it first"
    cmp -s before.exe "s$pad.exe" || fail "pad $pad: $command changed the signed file"
  done

  expect_rc 0 "$OEMPACK" unsign "s$pad.exe"
  expect_text out.txt "the installer is unsigned"
  [ "$(size_of "s$pad.exe")" -eq "$unsigned" ] || fail "pad $pad: unsign left $(size_of "s$pad.exe") bytes, not $unsigned"
  checksum_ok "s$pad.exe" || fail "pad $pad: unsign left a wrong PE checksum"
  expect_rc 0 "$OEMPACK" verify "s$pad.exe"
  expect_text out.txt "2 module(s), 2 checked and sound, 0 without a check; not signed"
  expect_rc 0 "$OEMPACK" unsign "s$pad.exe"
  expect_text out.txt "not signed"
  expect_rc 0 "$OEMPACK" add "s$pad.exe" late.txt
  sign "s$pad.exe" "r$pad.exe" || fail "pad $pad: signing again"
  signature_ok "r$pad.exe" || fail "pad $pad: the signature made again does not verify"
  expect_rc 0 "$OEMPACK" list "r$pad.exe"
  [ "$(grep -cE '^(late.txt|notes.txt|tool.bin) ' out.txt)" -eq 3 ] || fail "pad $pad: list after signing again: $(cat out.txt)"
  expect_rc 0 "$OEMPACK" verify "r$pad.exe"
  expect_text out.txt "3 module(s), 3 checked and sound"
done

# A signed copy of a program with stray bytes (a killed add's tail): not a
# sound signed installer.  verify says so; repair cuts the tail and the
# signature over it, keeping the modules.
cp u0.exe tail.exe
head -c 500 /dev/urandom >> tail.exe
if sign tail.exe signed-tail.exe; then
  expect_rc 1 "$OEMPACK" verify signed-tail.exe
  expect_text err.txt "500 stray byte(s) follow the last whole module (2 module(s)"
  expect_rc 0 "$OEMPACK" repair signed-tail.exe
  expect_text out.txt "the signature (certificate table of"
  expect_rc 0 "$OEMPACK" verify signed-tail.exe
  expect_text out.txt "2 module(s), 2 checked and sound, 0 without a check; not signed"
  [ "$(size_of signed-tail.exe)" -eq "$(size_of u0.exe)" ] || fail "repair of a signed copy left $(size_of signed-tail.exe) bytes"
  checksum_ok signed-tail.exe || fail "repair of a signed copy left a wrong PE checksum"
else
  fail "signing a program with stray bytes"
fi

# ---- the build signs: [sign] runs the signer before the installer takes its name ----
mkdir -p build && cp image.exe build/base.exe && cp tool.bin build/
manifest() { # manifest COMMAND-LIST: a manifest of one module, signed by the command
  printf '%s\n' 'base = "base.exe"' '[sign]' "command = $1" '[[module]]' 'source = "tool.bin"' \
    'set = "ovin"' > build/m.toml
}
pair='"-in", "{unsigned}", "-out", "{signed}"'
manifest "[\"osslsigncode\", \"sign\", \"-certs\", \"$SIGNER/cert.pem\", \"-key\", \"$SIGNER/key.pem\", $pair]"
expect_rc 0 "$OEMPACK" build build/m.toml -o signed-build.exe
expect_text out.txt "1 module(s), built from build/m.toml, signed"
signature_ok signed-build.exe || fail "the build's signature does not verify"
expect_rc 0 "$OEMPACK" verify signed-build.exe
expect_text out.txt "1 module(s), 1 checked and sound, 0 without a check; signed"
# A signer that fails, one that cannot start, one that leaves no signature
# and one that leaves no file: the output stays as it was, and nothing is
# left beside it.
printf 'the old one' > kept.exe
for row in '["false", "{file}"]|ended with 1' '["no-such-signer", "{file}"]|cannot be started' \
           '["true", "{file}"]|without a signature' '["cp", "{unsigned}", "{signed}"]|without a signature' \
           '["true", "{unsigned}", "{signed}"]|left no installer' '["rm", "{file}"]|left no installer'; do
  manifest "${row%%|*}"
  expect_rc 1 "$OEMPACK" build build/m.toml -o kept.exe
  expect_text err.txt "${row#*|}"
  [ "$(cat kept.exe)" = "the old one" ] || fail "a failed signing ($row) replaced the output"
  [ -z "$(find . -maxdepth 1 -name '~BV*')" ] || fail "a failed signing ($row) left $(find . -maxdepth 1 -name '~BV*')"
done
# The output is never the signer's key; a signer that hands back another
# installer, or works in a folder named like a placeholder, is caught or
# served as it is.
osslsign="\"osslsigncode\", \"sign\", \"-certs\", \"$SIGNER/cert.pem\", \"-key\", \"$SIGNER/key.pem\""
manifest "[$osslsign, $pair]"
cp "$SIGNER/key.pem" key-before.pem
expect_rc 1 "$OEMPACK" build build/m.toml -o "$SIGNER/key.pem"
expect_text err.txt "which the build reads"
cmp -s key-before.pem "$SIGNER/key.pem" || fail "a build replaced the signer's key"
cp image.exe other1.exe && "$OEMPACK" add other1.exe late.txt > /dev/null   # one module, as built
printf '#!/bin/sh\nexec osslsigncode sign -certs "%s" -key "%s" -in "%s" -out "$2"\n' \
  "$SIGNER/cert.pem" "$SIGNER/key.pem" "$WORK/other1.exe" > swap.sh
printf '#!/bin/sh\nsleep 2\nexec osslsigncode sign -certs "%s" -key "%s" -in "$1" -out "$2"\n' \
  "$SIGNER/cert.pem" "$SIGNER/key.pem" > slow.sh
chmod +x swap.sh slow.sh
manifest "[\"$WORK/swap.sh\", \"{unsigned}\", \"{signed}\"]"
expect_rc 1 "$OEMPACK" build build/m.toml -o kept.exe
expect_text err.txt "other modules than the build appended"
manifest "[$osslsign, $pair]"
mkdir -p '{signed}'
expect_rc 0 "$OEMPACK" build build/m.toml -o '{signed}/x.exe'
# Another build in the folder while the signer works passes its file over.
manifest "[\"$WORK/slow.sh\", \"{unsigned}\", \"{signed}\"]"
mkdir -p together
"$OEMPACK" build build/m.toml -o together/a.exe > slow.out 2>&1 &
slow=$!
sleep 1
cp build/m.toml build/plain.toml && sed -i '/^\[sign\]/d; /^command/d' build/plain.toml
expect_rc 0 "$OEMPACK" build build/plain.toml -o together/b.exe
grep -q "removed" out.txt && fail "a build removed the staging file of a build that was signing"
wait "$slow" || fail "the signing build failed beside another: $(cat slow.out)"
for command in '[]' '["osslsigncode", "sign"]' '["osslsigncode", "{file}", "{signed}"]' '["{file}"]' '"signtool"'; do
  manifest "$command"
  expect_rc 1 "$OEMPACK" build build/m.toml -o kept.exe
  expect_text err.txt "build/m.toml:3:"
done

exit "$FAILED"
