# Helpers shared by the command-line test scripts (sourced, never run on its
# own: every tests/cli/*.sh is a test of its own, this file is not one).

# cli_workdir: a scratch folder in $WORK, made writable again and removed on
# exit, and FAILED=0 for fail to set.
cli_workdir() {
  WORK=$(mktemp -d)
  trap 'chmod -R u+w "$WORK" 2>/dev/null; rm -rf "$WORK"' EXIT
  FAILED=0
}

fail() { echo "FAIL: $*" >&2; FAILED=1; }

# expect_rc CODE COMMAND...: runs the command, output to out.txt / err.txt.
expect_rc() {
  local want=$1; shift
  "$@" > out.txt 2> err.txt
  local got=$?
  [ "$got" -eq "$want" ] || fail "$* exited $got, expected $want: $(cat err.txt)"
}

expect_text() { # expect_text FILE TEXT
  grep -qF -- "$2" "$1" || fail "$1 lacks '$2': $(cat "$1")"
}

size_of() { stat -c %s "$1"; }

# append_foreign_record FILE: a plausible 660-byte record that is not one of
# ours (its marker is unknown) at the end of FILE.
append_foreign_record() {
  { head -c 4 /dev/zero; printf 'NOT_A_MODULE'; head -c 640 /dev/zero; printf '\x00\x00\x02\x94'; } >> "$1"
}

# reseal_record FILE: seals the record check of FILE's last record anew
# after a test crafted its fields, as a maker of a hostile record would (the
# check is there to catch damage, not intent).  A record without the check
# stays as it is.
reseal_record() {
  python3 - "$1" <<'PY'
import struct, sys, zlib
with open(sys.argv[1], "r+b") as f:
    f.seek(-660, 2)
    record = bytearray(f.read(660))
    if record[80:88] == b"BRVREC32":
        record[88:92] = bytes(4)
        record[88:92] = struct.pack(">I", zlib.crc32(bytes(record)))
        f.seek(-660, 2)
        f.write(record)
PY
}

# ---- Signing with a throwaway certificate ----------------------------------
# make_signer: a self-signed certificate and its key in $WORK/signer, valid
# for a day; fails when osslsigncode or openssl is missing.
make_signer() {
  local tool
  for tool in osslsigncode openssl; do
    command -v "$tool" > /dev/null || { echo "FAIL: $tool is missing (apt-get install $tool)" >&2; return 1; }
  done
  SIGNER=$WORK/signer
  mkdir -p "$SIGNER"
  openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj "/CN=Brelvane test signer" \
    -keyout "$SIGNER/key.pem" -out "$SIGNER/cert.pem" 2> /dev/null
}
sign() { # sign IN OUT
  osslsigncode sign -certs "$SIGNER/cert.pem" -key "$SIGNER/key.pem" -in "$1" -out "$2" > /dev/null 2>&1
}
signature_ok() { osslsigncode verify -in "$1" -CAfile "$SIGNER/cert.pem" > /dev/null 2>&1; }

# checksum_ok FILE: the PE checksum field holds the checksum of the file:
# 16-bit little-endian words (a last odd byte counts as a word) summed with
# the carry folded back, the field itself as zero, plus the length.
# (osslsigncode's own report drops a last odd byte, so it is no judge here.)
checksum_ok() {
  python3 - "$1" <<'PY'
import struct, sys
data = bytearray(open(sys.argv[1], 'rb').read())
field = struct.unpack_from('<I', data, 0x3C)[0] + 24 + 64
stored = struct.unpack_from('<I', data, field)[0]
data[field:field + 4] = bytes(4)
length = len(data)
if length % 2:
    data.append(0)
total = 0
for (word,) in struct.iter_unpack('<H', data):
    total += word
    total = (total & 0xFFFF) + (total >> 16)
sys.exit(0 if stored == ((total & 0xFFFF) + (total >> 16)) + length else 1)
PY
}

# make_pe_image FILE: a minimal PE32+ image that a signer takes: headers to
# 0x200, one section of 0x200 bytes.
make_pe_image() {
  python3 - > "$1" <<'PY'
import struct, sys
h = bytearray(0x200)
h[0:2] = b'MZ'; struct.pack_into('<I', h, 0x3C, 0x40); h[0x40:0x44] = b'PE\0\0'
struct.pack_into('<HHIIIHH', h, 0x44, 0x8664, 1, 0, 0, 0, 240, 0x22)
o = 0x58
struct.pack_into('<HBBIIIII', h, o, 0x20B, 14, 0, 0x200, 0, 0, 0x1000, 0x1000)
struct.pack_into('<QII', h, o + 24, 0x140000000, 0x1000, 0x200)
struct.pack_into('<HHHHHHI', h, o + 40, 6, 0, 0, 0, 6, 0, 0)
struct.pack_into('<IIIHH', h, o + 56, 0x2000, 0x200, 0, 3, 0x8160)
struct.pack_into('<QQQQII', h, o + 72, 0x100000, 0x1000, 0x100000, 0x1000, 0, 16)
s = o + 240
h[s:s + 8] = b'.text\0\0\0'
struct.pack_into('<IIIIIIHHI', h, s + 8, 0x10, 0x1000, 0x200, 0x200, 0, 0, 0, 0, 0x60000020)
body = bytearray(0x200); body[0] = 0xC3
sys.stdout.buffer.write(bytes(h + body))
PY
}
