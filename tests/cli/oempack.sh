#!/usr/bin/env bash
# oempack end to end: list, add, add-predef and extract on real files, exit
# codes and refusals.  $1 is the folder that holds the oempack program.
set -u
OEMPACK="$1/oempack"
DOCS=$(cd "$(dirname "$0")/../../docs" && pwd)
# shellcheck source=cli_lib.bash
source "$(dirname "$0")/cli_lib.bash"
cli_workdir
cd "$WORK" || exit 1

head -c 4096 /dev/zero > setup.exe
head -c 5000 /dev/urandom > a.bin
head -c 1025 /dev/urandom > kestrin.exe
head -c 1 /dev/urandom > ovin.dat
head -c 3000 /dev/urandom > pellor.sys
head -c 10 /dev/urandom > combo.dll
printf 'second copy' > second.txt

# ---- the models of the catalogue, as the program names them ----
# The models and their option keys come from add-predef's help, so a new
# model is appended, listed and documented without this test naming it.
"$OEMPACK" add-predef --help > help.txt
read -r -a keys <<< "$(grep -oE -- '--[a-z0-9]+-attr' help.txt | sed 's/^--//; s/-attr$//' | tr '\n' ' ')"
models=$(sed -n '1s/^append predefined modules: //p' help.txt)

# ---- usage ----
expect_rc 0 "$OEMPACK" --help
expect_text out.txt "add-predef"
expect_text out.txt 'follows "--"'
expect_rc 0 "$OEMPACK" --version
expect_text out.txt "oempack 1.0"
expect_rc 2 "$OEMPACK"
expect_rc 2 "$OEMPACK" frobnicate setup.exe
expect_rc 2 "$OEMPACK" list
expect_rc 2 "$OEMPACK" add setup.exe
expect_rc 2 "$OEMPACK" add-predef setup.exe --ovin ovin.dat --ovin-attr sideways
expect_rc 2 "$OEMPACK" extract setup.exe

# ---- a missing installer is never created ----
expect_rc 1 "$OEMPACK" list missing.exe
expect_text err.txt "missing.exe"
expect_rc 1 "$OEMPACK" add missing.exe a.bin
[ -e missing.exe ] && fail "add created the installer"

# ---- add ----
expect_rc 0 "$OEMPACK" list setup.exe
[ "$(wc -l < out.txt)" -eq 1 ] || fail "a bare installer lists modules: $(cat out.txt)"
expect_rc 0 "$OEMPACK" add setup.exe a.bin
[ "$(size_of setup.exe)" -eq $((4096 + 5000 + 660)) ] || fail "add grew the installer by the wrong size"
cmp -s -n 4096 setup.exe /dev/zero || fail "add changed the image"
cp setup.exe before.exe
expect_rc 1 "$OEMPACK" add setup.exe no-such-file.bin
expect_text err.txt "no-such-file.bin"
cmp -s setup.exe before.exe || fail "a failed add changed the installer"

# ---- add-predef ----
expect_rc 0 "$OEMPACK" add-predef setup.exe --kestrin kestrin.exe --kestrin-root 'windows\desktop' \
  --kestrin-attr rh --ovin ovin.dat --ovin-attr ronly --pellor pellor.sys --pellor-attr hidden \
  --combined combo.dll
expect_rc 0 "$OEMPACK" list setup.exe
sed -n 2p out.txt | grep -qE '^combo\.dll +Yes-KES\+OVIN +10 +Root\\ +Normal +yes +never \(carried only\)$' || fail "combined row: $(sed -n 2p out.txt)"
sed -n 3p out.txt | grep -qE '^pellor\.sys +Yes-PELLOR +3000 +Root\\ +Hidden +yes +Pellor drives$' || fail "pellor row: $(sed -n 3p out.txt)"
sed -n 4p out.txt | grep -qE '^ovin\.dat +Yes-OVIN +1 +Root\\ +Read Only +yes +Ovin drives$' || fail "ovin row: $(sed -n 4p out.txt)"
sed -n 5p out.txt | grep -qE '^kestrin\.exe +Yes-KESTRIN +1025 +Root\\windows\\desktop +Read Only, Hidden +yes +Kestrin drives$' \
  || fail "kestrin row: $(sed -n 5p out.txt)"
sed -n 6p out.txt | grep -qE '^a\.bin +5000 +User Defined +Normal +yes +never \(carried only\)$' || fail "user row: $(sed -n 6p out.txt)"

# Kestrin appended, Ovin missing: stop there, Pellor is not attempted.
cp setup.exe before.exe
expect_rc 1 "$OEMPACK" add-predef setup.exe --kestrin kestrin.exe --ovin gone.dat --pellor pellor.sys
expect_text err.txt "gone.dat"
[ "$(size_of setup.exe)" -eq $(( $(size_of before.exe) + 1025 + 660 )) ] || fail "add-predef did not keep exactly the Kestrin module"
expect_rc 2 "$OEMPACK" add-predef setup.exe
options=$(printf -- '--%s, ' "${keys[@]}")
expect_text err.txt "${options%, } or --combined"
cmp -s <(head -c "$(size_of before.exe)" setup.exe) before.exe || fail "add-predef changed earlier bytes"

# Each model's set: appended, listed with its drives, and documented.
head -c 4096 /dev/zero > each.exe
args=()
for key in "${keys[@]}"; do
  printf '%s' "$key" > "$key.mod"
  args+=(--"$key" "$key.mod" --"$key"-root "sub\\$key" --"$key"-attr hidden)
done
expect_rc 0 "$OEMPACK" add-predef each.exe "${args[@]}"
expect_rc 0 "$OEMPACK" list each.exe --json
python3 - out.txt "$models" "${keys[@]}" <<'EOF' || fail "a model's module: $(cat out.txt)"
import json, sys
rows = json.load(open(sys.argv[1]))
names = sys.argv[2].split(", ")[:-1]
keys = sys.argv[3:]
assert len(keys) == len(names) >= 3, (keys, names)
for key, name in zip(keys, names):
    row = [r for r in rows if r["model"] == key]
    assert len(row) == 1 and row[0]["installedOn"] == name and row[0]["size"] == len(key), row
    assert row[0]["extractDir"] == "sub\\" + key and row[0]["attributes"] == 2, row
EOF
synopsis=$(sed -n '/^oempack add-predef/,/--combined/p' "$DOCS/oempack.md")
listing=$(sed -n '/^- `list` prints/,/^$/p' "$DOCS/oempack.md" | tr '\n' ' ')
for key in "${keys[@]}"; do
  for option in "--$key FILE" "--$key-root DIR" "--$key-attr"; do
    grep -qF -- "$option" <<< "$synopsis" || fail "docs/oempack.md's add-predef lacks $option"
  done
  grep -qF -- "\"$key\"" <<< "$listing" || fail "docs/oempack.md's list lacks the model \"$key\""
done
for name in ${models//,/ }; do
  [ "$name" = combined ] || grep -qF -- "\"$name\"" <<< "$listing" ||
    fail "docs/oempack.md's list lacks \"$name\""
done

# ---- what every install refuses is never stored ----
cp setup.exe before.exe
for name in con.txt 'a ' 'esc'$'\e''.txt'; do
  printf 'x' > "$name"
  expect_rc 1 "$OEMPACK" add setup.exe "$name"
  cmp -s setup.exe before.exe || fail "add stored the refused name '$name'"
done
expect_text err.txt "control character"
for root in '..\..\Windows' 'C:\Windows'; do
  # Kestrin is sound and comes first: nothing of the request is appended.
  expect_rc 1 "$OEMPACK" add-predef setup.exe --kestrin kestrin.exe --ovin ovin.dat --ovin-root "$root"
  cmp -s setup.exe before.exe || fail "add-predef stored the refused root '$root'"
done
expect_text err.txt "absolute path"

# ---- list --json ----
# A quote is no name an install takes: the JSON escapes are the unit tests'.
printf 'x' > 'caf'$'\xe9'' q.txt'
expect_rc 0 "$OEMPACK" add setup.exe 'caf'$'\xe9'' q.txt'
expect_rc 0 "$OEMPACK" list setup.exe --json
python3 - out.txt <<'EOF' || fail "JSON list"
import json, sys
rows = json.load(open(sys.argv[1], encoding="ascii"))
assert rows[0]["name"] == 'caf\u00e9 q.txt', rows[0]
assert rows[0]["predefined"] is False and rows[0]["model"] is None
kes = [r for r in rows if r["model"] == "kestrin"]
assert len(kes) == 2 and kes[1]["extractDir"] == "windows\\desktop" and kes[1]["attributes"] == 3, kes
assert rows[-1]["name"] == "a.bin" and rows[-1]["offset"] == 4096 and rows[-1]["size"] == 5000
assert rows[-1]["marker"] == "QRVX_OEM_INSTALLER"
models = [r["model"] for r in rows]
assert models[2:6] == ["kestrin+ovin", "pellor", "ovin", "kestrin"], models
assert [r["installedOn"] for r in rows[2:6]] == [None, "Pellor", "Ovin", "Kestrin"], rows
EOF

# ---- extract ----
expect_rc 0 "$OEMPACK" extract setup.exe a.bin -o a.out
cmp -s a.bin a.out || fail "extracted a.bin differs"
[ -w a.out ] || fail "extracted file is not writable"
expect_rc 0 "$OEMPACK" extract setup.exe ovin.dat -o ovin.out
cmp -s ovin.dat ovin.out || fail "extracted ovin.dat differs"
[ -w ovin.out ] || fail "extract kept the record's read-only bit"
expect_rc 1 "$OEMPACK" extract setup.exe a.bi -o prefix.out
[ -e prefix.out ] && fail "a prefix of a name was extracted"
mkdir sub && (cd sub && "$OEMPACK" extract ../setup.exe pellor.sys) || fail "extract to the current folder"
cmp -s pellor.sys sub/pellor.sys || fail "default output differs"

# The newest module of a name wins.
cp second.txt kestrin.exe.new && mv kestrin.exe kestrin.orig && mv kestrin.exe.new kestrin.exe
expect_rc 0 "$OEMPACK" add setup.exe kestrin.exe
expect_rc 0 "$OEMPACK" extract setup.exe kestrin.exe -o newest.out
cmp -s second.txt newest.out || fail "extract did not take the newest module"

# An existing file is refused, then replaced with --force even when read-only.
printf 'keep me' > existing.out
chmod a-w existing.out
expect_rc 1 "$OEMPACK" extract setup.exe a.bin -o existing.out
[ "$(cat existing.out)" = "keep me" ] || fail "extract replaced a file without --force"
expect_rc 0 "$OEMPACK" extract setup.exe a.bin -o existing.out --force
cmp -s a.bin existing.out || fail "--force did not replace the file"
mkdir folder.out
expect_rc 1 "$OEMPACK" extract setup.exe a.bin -o folder.out --force
[ -d folder.out ] || fail "--force removed a directory"
expect_rc 1 "$OEMPACK" extract setup.exe nothing-like-it
expect_text err.txt "nothing-like-it"

# A name that begins with '-' follows "--".
printf 'dash' > ./-dash.txt
expect_rc 0 "$OEMPACK" add setup.exe -- -dash.txt
expect_rc 0 "$OEMPACK" extract setup.exe -o dash.out -- -dash.txt
cmp -s ./-dash.txt dash.out || fail "a module named -dash.txt"

# A link is never written through nor replaced, as on the builder page,
# --force or not; it and its target stay as they were.
printf 'target' > link-target.txt
chmod 444 link-target.txt
ln -s link-target.txt link.out
expect_rc 1 "$OEMPACK" extract setup.exe a.bin -o link.out --force
expect_text err.txt "link.out is a symbolic link or junction"
[ -L link.out ] || fail "extract -o LINK --force removed the link"
mkfifo pipe.out
expect_rc 1 "$OEMPACK" extract setup.exe a.bin -o pipe.out --force
expect_text err.txt "pipe.out is not a regular file"
[ "$(cat link-target.txt)" = target ] && [ "$(stat -c %a link-target.txt)" = 444 ] \
  || fail "extract -o LINK --force touched the link's target"
# So does a hard link: the other name keeps its content and mode, and no
# staging file stays behind.
ln link-target.txt hard.out
expect_rc 0 "$OEMPACK" extract setup.exe a.bin -o hard.out --force
cmp -s a.bin hard.out || fail "extract -o HARDLINK --force did not replace the file"
[ "$(cat link-target.txt)" = target ] && [ "$(stat -c %a link-target.txt)" = 444 ] \
  || fail "extract -o HARDLINK --force changed the other name"
[ -z "$(ls -A | grep -i '^~bv.*\.tmp$')" ] || fail "extract left a staging file"

# ---- extraction never removes the installer it reads ----
cp setup.exe self.exe
ln self.exe self-hard.exe
mkdir named && head -c 100 /dev/urandom > named/self.exe
expect_rc 0 "$OEMPACK" add self.exe named/self.exe
cp self.exe self.before
for out in self.exe ./self.exe "$WORK/self.exe" self-hard.exe ""; do
  expect_rc 1 "$OEMPACK" extract self.exe self.exe ${out:+-o "$out"} --force
  expect_text err.txt "is the installer"
  cmp -s self.exe self.before || fail "extract -o '$out' --force changed the installer"
done

# ---- non-regular files are refused at once ----
mkfifo pipe
cp setup.exe before.exe
for command in "list pipe" "verify pipe" "add pipe a.bin" "add setup.exe pipe" \
    "add-predef pipe --ovin ovin.dat" "add-predef setup.exe --ovin pipe" \
    "extract pipe a.bin -o pipe.out" "add /dev/null a.bin"; do
  # shellcheck disable=SC2086
  expect_rc 1 timeout 10 "$OEMPACK" $command
  expect_text err.txt "not a regular file"
done
cmp -s setup.exe before.exe || fail "a refused source changed the installer"

# ---- control characters in names reach the terminal escaped ----
# A crafted name: add refuses control characters, so the byte is patched in.
cp setup.exe ctl.exe
printf 'x' > evil.exe_readme.txt
expect_rc 0 "$OEMPACK" add ctl.exe evil.exe_readme.txt
python3 -c 'import sys; f=open(sys.argv[1],"r+b"); f.seek(-660+132+8,2); f.write(b"\r")' ctl.exe && reseal_record ctl.exe
expect_rc 0 "$OEMPACK" list ctl.exe
expect_text out.txt 'evil.exe\x0Dreadme.txt'
! grep -q $'\r' out.txt || fail "list printed a raw carriage return"
expect_rc 1 "$OEMPACK" extract ctl.exe $'\e[2Jgone'
expect_text err.txt 'no module named "\x1B[2Jgone"'
! grep -q $'\e' err.txt || fail "a message printed a raw escape"
# Bytes from 0x80 up are code page 1252 text, shown as UTF-8: 0x9B (CSI to
# some terminals) is "›", 0xE9 "é"; 0x81 is no character and is escaped.
printf 'x' > a_b_c_.txt
expect_rc 0 "$OEMPACK" add ctl.exe a_b_c_.txt
python3 -c 'import sys; f=open(sys.argv[1],"r+b"); f.seek(-660+133,2); f.write(b"\x9bb\x81c\xe9")' ctl.exe && reseal_record ctl.exe
expect_rc 0 "$OEMPACK" list ctl.exe
expect_text out.txt 'a›b\x81cé.txt  '
! LC_ALL=C grep -q $'[\x81\x9b]' out.txt || fail "list printed a raw C1 byte"
# A C1 control in UTF-8 from the command line is escaped too.
expect_rc 1 "$OEMPACK" extract ctl.exe $'\xc2\x9b2Jgone'
expect_text err.txt 'no module named "\xC2\x9B2Jgone"'
# The size column is unsigned, as the record holds it: 4 GiB less a byte (sparse).
head -c 4096 /dev/zero > huge.exe
truncate -s $((4096 + 4294967295)) huge.exe
{ printf '\377\377\377\377'; tail -c 656 ctl.exe; } >> huge.exe
reseal_record huge.exe
expect_rc 0 "$OEMPACK" list huge.exe
grep -qE '^a›b\\x81cé\.txt +4294967295 ' out.txt || fail "size column: $(cat out.txt)"
rm -f huge.exe

# ---- foreign records ----
cp setup.exe good.exe
append_foreign_record setup.exe
cp setup.exe before.exe
expect_rc 1 "$OEMPACK" list setup.exe
expect_text err.txt "offset $(size_of setup.exe)"
expect_rc 1 "$OEMPACK" add setup.exe a.bin
cmp -s setup.exe before.exe || fail "add appended behind a foreign record"
# An older foreign record: the newer rows are listed, then the error.
head -c 4096 /dev/zero > piece.exe
expect_rc 0 "$OEMPACK" add piece.exe second.txt
{ cat setup.exe; tail -c +4097 piece.exe; } > foreign-older.exe
expect_rc 1 "$OEMPACK" list foreign-older.exe
[ "$(wc -l < out.txt)" -eq 2 ] && sed -n 2p out.txt | grep -q '^second\.txt ' || fail "rows before the foreign record: $(cat out.txt)"
expect_text err.txt "offset $(size_of setup.exe)"
expect_rc 1 "$OEMPACK" list foreign-older.exe --json
python3 -c 'import json,sys; r=json.load(open(sys.argv[1])); assert [m["name"] for m in r]==["second.txt"]' out.txt \
  || fail "JSON rows before the foreign record"

exit $FAILED
