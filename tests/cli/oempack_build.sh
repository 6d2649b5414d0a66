#!/usr/bin/env bash
# oempack build, describe and diff end to end: every bad manifest named by
# its line, the same bytes from two clones of the sources, describe then
# build giving back a hand-made installer, diff on each kind of change, and
# a killed build leaving the former output as it was.  $1 holds oempack.
set -u
OEMPACK="$1/oempack"
# shellcheck source=cli_lib.bash
source "$(dirname "$0")/cli_lib.bash"
cli_workdir
cd "$WORK" || exit 1

head -c 4096 /dev/zero > base.exe
mkdir -p src
head -c 3000 /dev/urandom > "src/Brelvane v1.0.exe"
printf 'read me' > src/readme.txt
head -c 1025 /dev/urandom > src/kestrin.exe
head -c 10 /dev/urandom > src/combo.dll
cat > src/installer.toml <<EOF
# The three models and a readme.
base = "../base.exe"
base-sha256 = "$(sha256sum base.exe | cut -d' ' -f1)"

[[module]]
source = "kestrin.exe"
set = "kestrin"
folder = "tools\\\\k"
attributes = "rh"

[[module]]
source = "Brelvane v1.0.exe"
set = "ovin"
folder = "Brelvane"

[[module]]
source = "readme.txt"
set = "pellor"
attributes = "ronly"

[[module]]
source = "combo.dll"
set = "combined"

[[module]]
source = "readme.txt"
name = "notes.txt"
EOF

# ---- bad manifests: each names its line, writes nothing ----
bad() { # bad LINE MESSAGE TOML...: a manifest in src/ whose fault is at LINE
  local line=$1 message=$2; shift 2
  printf '%s\n' "$@" > src/bad.toml
  expect_rc 1 "$OEMPACK" build src/bad.toml -o bad.exe
  expect_text err.txt "src/bad.toml:$line:"
  expect_text err.txt "$message"
  [ -e bad.exe ] && { fail "a bad manifest wrote bad.exe"; rm -f bad.exe; }
}
base='base = "../base.exe"'
bad 2 "expected ']'" "$base" '[[module]' 'source = "readme.txt"'
bad 1 'unknown key "bsae"' 'bsae = "../base.exe"'
# What the TOML library never sees: a character beyond ASCII outside a
# string (the two bytes of U+0323 alone), bytes that are no UTF-8.
bad 1 "beyond ASCII outside a string" $'\xcc\xa3'
bad 1 "a table's name begins with" '[/'
bad 4 "in a '...' string" "$base" '[[module]]' 'source = "readme.txt"' "name = 'é.txt'"
# What the fuzzer found the library stopping at: its error path read on into
# a name beyond ASCII.  Such a character reaches it only as its \u escape.
bad 2 "a key of more than 64 parts" "$base" "$(printf 'a.%.0s' $(seq 100))b = 1"
bad 3 "an array ends with ']'" "$base" '[sign]' 'command = ["a", }'
bad 3 "" "$base" '[sign]' 'command = ["osslsigncode",0"\u14E9ssgn"ol\u0rce"Данные"'
printf '%s\n' "$base" '[[module]]' 'source = "readme.txt"' 'name = """r\' '  é.txt"""' > src/trim.toml
expect_rc 0 "$OEMPACK" build src/trim.toml --check
expect_text out.txt "ré.txt"
{ printf '\xef\xbb\xbf'; printf '%s\n' "$base" '[[module]]' 'source = "readme.txt"'; } > src/bom.toml
expect_rc 0 "$OEMPACK" build src/bom.toml --check
bad 2 "not UTF-8 text" "$base" $'# caf\xe9' '[[module]]' 'source = "readme.txt"'
bad 3 "not UTF-8 text" "$base" '[[module]]' $'source = "r\xe9adme.txt"'
# Non-ASCII in strings and comments is fine: the error is the missing file.
bad 2 'cannot add "é.txt"' "$base # é" '[[module]]' 'source = "é.txt"'
head -c $((1024 * 1024 + 1)) /dev/zero | tr '\0' '#' > src/huge.toml
expect_rc 1 "$OEMPACK" build src/huge.toml -o bad.exe
expect_text err.txt "a manifest may hold at most 1048576 bytes"
bad 1 "no base installer" '[[module]]' 'source = "readme.txt"'
bad 2 "64 hexadecimal digits" "$base" 'base-sha256 = "abc"'
bad 2 "has the SHA-256" "$base" "base-sha256 = \"$(printf '0%.0s' {1..64})\""
bad 2 'without "source"' "$base" '[[module]]' 'set = "ovin"'
bad 4 'unknown set "ovni"' "$base" '[[module]]' 'source = "readme.txt"' 'set = "ovni"'
bad 4 'unknown attributes "sideways"' "$base" '[[module]]' 'source = "readme.txt"' \
  'attributes = "sideways"'
bad 4 "a user-defined module has no folder" "$base" '[[module]]' 'source = "readme.txt"' \
  'folder = "Brelvane"'
bad 5 "goes to the drive's root" "$base" '[[module]]' 'source = "combo.dll"' 'set = "combined"' \
  'folder = "x"'
bad 4 "one file name" "$base" '[[module]]' 'source = "readme.txt"' 'name = "a\\b.txt"'
bad 4 'unknown key "sorce"' "$base" '[[module]]' 'source = "readme.txt"' 'sorce = "x"'
bad 2 'cannot add "gone.txt"' "$base" '[[module]]' 'source = "gone.txt"'
bad 2 "climbs to the parent folder" "$base" '[[module]]' 'source = "readme.txt"' 'set = "ovin"' \
  'folder = "..\\..\\Windows"'
bad 5 "the module at line 2 of the same set already goes to that file" "$base" '[[module]]' \
  'source = "readme.txt"' 'set = "ovin"' '[[module]]' 'source = "readme.txt"' 'set = "ovin"' \
  'name = "README.TXT"'
cp base.exe full.exe && "$OEMPACK" add full.exe src/readme.txt > /dev/null
bad 1 "already holds 1 module(s)" 'base = "../full.exe"'

# ---- --check writes nothing and shows what build gives ----
expect_rc 0 "$OEMPACK" build src/installer.toml --check
mv out.txt planned.txt
[ -e src/installer.exe ] || [ -e installer.exe ] && fail "--check wrote an installer"
expect_rc 0 "$OEMPACK" build src/installer.toml -o one.exe
# A user-defined module reaches no drive: said, and refused under --strict.
expect_text err.txt 'warning: 2 module(s) that no install installs'
expect_rc 1 "$OEMPACK" build src/installer.toml -o strict.exe --strict
[ -e strict.exe ] && fail "--strict wrote an installer that carries a module no install installs"
expect_rc 0 "$OEMPACK" list one.exe
cmp -s planned.txt out.txt || fail "--check showed $(cat planned.txt), the build holds $(cat out.txt)"
expect_rc 0 "$OEMPACK" verify one.exe

# ---- the build never writes over what it reads ----
cp src/installer.toml keep.toml
expect_rc 1 "$OEMPACK" build src/installer.toml -o src/installer.toml
expect_text err.txt "which the build reads"
cmp -s src/installer.toml keep.toml || fail "-o onto the manifest changed it"
ln -f base.exe base-link.exe
expect_rc 1 "$OEMPACK" build src/installer.toml -o base-link.exe
cmp -s base.exe base-link.exe && [ "$(stat -c %h base.exe)" = 2 ] || fail "-o onto the base changed it"
printf 'a source' > src/one.exe.building
expect_rc 0 "$OEMPACK" build src/installer.toml -o src/one.exe
[ "$(cat src/one.exe.building)" = "a source" ] || fail "a build removed a file known by its name alone"

# ---- one encoding for names on every host: code page 1252 ----
# A UTF-8 name on Linux is stored as its code page 1252 bytes, as oempack.exe
# stores it; describe writes it back as UTF-8 and builds the same bytes.
mkdir -p cp && printf 'x' > "cp/Café €.txt"
printf '%s\n' 'base = "../base.exe"' '[[module]]' 'source = "Café €.txt"' \
  'name = "Résumé.txt"' > cp/m.toml
expect_rc 0 "$OEMPACK" build cp/m.toml -o cp.exe
grep -q -a $'Caf\xe9 \x80.txt\|R\xe9sum\xe9.txt' cp.exe || fail "the name was not stored in code page 1252"
grep -q -a 'Café' cp.exe && fail "the name was stored as UTF-8"
expect_rc 0 "$OEMPACK" describe cp.exe --to cp-described
expect_text cp-described/installer.toml 'source = "modules/01/Résumé.txt"'
expect_rc 0 "$OEMPACK" build cp-described/installer.toml -o cp-again.exe
cmp -s cp.exe cp-again.exe || fail "describe then build changed a non-ASCII name"
# An overlong UTF-8 form is no UTF-8: its bytes are stored as they stand,
# never read as the '\' or '.' it spells.
cp base.exe overlong.exe && printf 'x' > $'cp/\xe0\x80\xae\xe0\x80\xae\xe0\x81\x9cevil.txt'
expect_rc 0 "$OEMPACK" add overlong.exe $'cp/\xe0\x80\xae\xe0\x80\xae\xe0\x81\x9cevil.txt'
expect_rc 0 "$OEMPACK" list overlong.exe --json
grep -qF '..' out.txt && fail "an overlong form was stored as '..'"
printf 'x' > "cp/日本.txt"
printf '%s\n' 'base = "../base.exe"' '[[module]]' 'source = "日本.txt"' > cp/cjk.toml
expect_rc 1 "$OEMPACK" build cp/cjk.toml -o cjk.exe
expect_text err.txt "cp/cjk.toml:2:"
# Another code page, named by the manifest: Cyrillic names in 1251, and
# describe with that code page builds the same bytes again.
printf 'x' > "cp/Привет.txt"
printf '%s\n' 'base = "../base.exe"' 'code-page = 1251' '[[module]]' 'source = "Привет.txt"' \
  'set = "ovin"' 'folder = "Данные"' > cp/ru.toml
expect_rc 0 "$OEMPACK" build cp/ru.toml -o ru.exe
LC_ALL=C grep -q -a $'\xcf\xf0\xe8\xe2\xe5\xf2.txt' ru.exe || fail "the name was not stored in code page 1251"
expect_rc 0 "$OEMPACK" describe ru.exe --to ru-described --code-page 1251
expect_text ru-described/installer.toml 'folder = "Данные"'
expect_rc 0 "$OEMPACK" build ru-described/installer.toml -o ru-again.exe
cmp -s ru.exe ru-again.exe || fail "describe then build in code page 1251 changed the installer"
expect_rc 0 "$OEMPACK" extract ru.exe "Привет.txt" -o ru.out --code-page 1251
printf '%s\n' 'base = "../base.exe"' 'code-page = 932' > cp/sjis.toml
expect_rc 1 "$OEMPACK" build cp/sjis.toml -o sjis.exe
expect_text err.txt "cp/sjis.toml:2:13: \"code-page\" takes one of 874, 1250"
# Letter case is folded as Windows folds it, on every host: two names that
# differ only by the case of a letter beyond ASCII are one file on the drive.
for pair in '1252 é É' '1251 ж Ж' '1253 ς Σ'; do
  set -- $pair
  printf '%s\n' 'base = "../base.exe"' "code-page = $1" '[[module]]' 'source = "Привет.txt"' \
    'set = "kestrin"' "name = \"$2.txt\"" '[[module]]' 'source = "Привет.txt"' 'set = "kestrin"' \
    "name = \"$3.txt\"" > cp/case.toml
  expect_rc 1 "$OEMPACK" build cp/case.toml --check
  expect_text err.txt "already goes to that file"
done
# A byte the code page leaves undefined is refused, never guessed.
cp base.exe greek.exe && printf 'x' > "cp/ª.txt"
expect_rc 0 "$OEMPACK" add greek.exe "cp/ª.txt"
expect_rc 1 "$OEMPACK" describe greek.exe --to greek-described --code-page 1253
expect_text err.txt "leaves undefined"
[ -e greek-described ] && fail "a refused describe wrote its folder"

# ---- the worked example that --help and the guide show builds as it stands ----
mkdir -p example/release example/dist example/build
cp base.exe example/dist/brelvane-setup.exe && cp src/readme.txt example/release/ &&
  cp "src/Brelvane v1.0.exe" "example/build/Brelvane v2.1.exe" || fail "no example sources"
sed "s/^base-sha256 = .*/base-sha256 = \"$(sha256sum base.exe | cut -d' ' -f1)\"/" \
  "$(dirname "$0")/../../samples/release/installer.toml" > example/release/installer.toml
expect_rc 0 "$OEMPACK" build example/release/installer.toml -o example.exe
expect_rc 0 "$OEMPACK" list example.exe
expect_text out.txt "Read me.txt"
expect_text out.txt "Yes-PELLOR"

# ---- the same bytes from two clones, whatever their files' times and modes ----
mkdir maker && cp -r base.exe src maker/ && git -C maker init -q &&
  git -C maker add . && git -C maker -c user.name=m -c user.email=m@m commit -qm sources ||
  fail "the maker's repository was not made"
git clone -q maker clone1 && git clone -q maker clone2 || fail "the clones were not made"
touch -d '2001-02-03' clone2/src/* && chmod a-w clone2/src/readme.txt
expect_rc 0 "$OEMPACK" build clone1/src/installer.toml -o two.exe
expect_rc 0 "$OEMPACK" build clone2/src/installer.toml -o three.exe
cmp -s one.exe two.exe && cmp -s two.exe three.exe || fail "builds from the same manifest differ"

# ---- describe, then build, gives back an installer made by hand ----
cp base.exe hand.exe
"$OEMPACK" add hand.exe src/readme.txt > /dev/null &&
  "$OEMPACK" add-predef hand.exe --ovin "src/Brelvane v1.0.exe" --ovin-root Brelvane \
    --kestrin src/kestrin.exe --kestrin-attr hidden --combined src/combo.dll > /dev/null &&
  "$OEMPACK" add-predef hand.exe --ovin src/readme.txt --ovin-root 'Brelvane\Docs' > /dev/null ||
  fail "the hand-made installer was not built"
expect_rc 0 "$OEMPACK" describe hand.exe --to described
expect_rc 0 "$OEMPACK" build described/installer.toml -o again.exe
cmp -s hand.exe again.exe || fail "describe then build changed the installer"
expect_rc 1 "$OEMPACK" describe hand.exe --to described
expect_text err.txt "already exists"
# A link where describe makes its modules folder is never written through.
mkdir -p linked elsewhere && ln -s "$PWD/elsewhere" linked/modules
expect_rc 1 "$OEMPACK" describe hand.exe --to linked
expect_text err.txt "describe into a new folder"
[ -z "$(ls -A elsewhere)" ] || fail "describe wrote through a link"

# ---- diff: the same, then each kind of change ----
expect_rc 0 "$OEMPACK" diff hand.exe again.exe
expect_text out.txt "the same program, signature and 5 module(s)"
# Another program with the same modules is no "same": one byte of the image.
cp again.exe image.exe
printf '\x5a' | dd of=image.exe bs=1 seek=100 conv=notrunc 2> /dev/null
expect_rc 1 "$OEMPACK" diff hand.exe image.exe
expect_text out.txt "changed the program image"
expect_rc 0 "$OEMPACK" diff hand.exe image.exe --modules-only
expect_text out.txt "the same 5 module(s)"
changed() { # changed TEXT: the diff of one.exe against $WORK/other.exe says TEXT, exit 1
  expect_rc 1 "$OEMPACK" diff one.exe other.exe
  expect_text out.txt "$1"
}
edit() { # edit SED: other.exe built from the manifest changed by SED
  sed "$1" src/installer.toml > src/edited.toml && rm -f other.exe &&
    "$OEMPACK" build src/edited.toml -o other.exe > /dev/null || fail "edit $1 did not build"
}
cp one.exe other.exe && "$OEMPACK" add other.exe base.exe > /dev/null
changed 'added   "base.exe" (user-defined)'
edit '/name = "notes.txt"/d'
changed 'removed "notes.txt" (user-defined)'
edit 's/attributes = "ronly"/attributes = "hidden"/'
changed 'changed "readme.txt" (Yes-PELLOR): attributes Read Only -> Hidden'
printf 'READ ME' > src/readme.txt && edit ''
changed 'changed "readme.txt" (Yes-PELLOR): content'
printf 'read me, longer' > src/readme.txt && edit ''
changed 'changed "readme.txt" (Yes-PELLOR): size 7 -> 15'
printf 'read me' > src/readme.txt
cp base.exe other.exe && "$OEMPACK" add other.exe src/readme.txt > /dev/null &&
  "$OEMPACK" add other.exe src/kestrin.exe > /dev/null
cp base.exe swapped.exe && "$OEMPACK" add swapped.exe src/kestrin.exe > /dev/null &&
  "$OEMPACK" add swapped.exe src/readme.txt > /dev/null
expect_rc 1 "$OEMPACK" diff other.exe swapped.exe
expect_text out.txt "another order"
# The newest record without its content check: the same content, but
# another installer.
cp one.exe nocheck.exe
dd if=/dev/zero of=nocheck.exe bs=1 seek=$(( $(size_of one.exe) - 660 + 68 )) count=64 conv=notrunc 2> /dev/null
expect_rc 1 "$OEMPACK" diff one.exe nocheck.exe
expect_text out.txt "content check"

# ---- a killed build leaves the former output as it was ----
head -c $((160 * 1024 * 1024)) /dev/zero > src/big.bin
printf '%s\n' "$base" '[[module]]' 'source = "big.bin"' > src/big.toml
cp one.exe out.exe
"$OEMPACK" build src/big.toml -o out.exe > /dev/null 2>&1 &
builder=$!
# Stopped while it appends (the base copied, the module on its way), then
# killed: the output must be the former one at both moments.
building() { find . -maxdepth 1 -name '~BV*.TMP' | head -1; }
while kill -0 "$builder" 2> /dev/null &&
  [ "$(stat -c %s "$(building)" 2> /dev/null || echo 0)" -le 4096 ]; do :; done
kill -STOP "$builder" 2> /dev/null
[ -n "$(building)" ] || fail "the build was not stopped while it appended"
cmp -s out.exe one.exe || fail "a build under way changed the former output"
kill -KILL "$builder" 2> /dev/null
kill -CONT "$builder" 2> /dev/null
wait "$builder" 2> /dev/null
cmp -s out.exe one.exe || fail "a killed build changed the former output"
expect_rc 0 "$OEMPACK" build src/big.toml -o out.exe
expect_text out.txt "~BV00000.TMP, left by a build or extraction that was stopped"
[ -n "$(building)" ] && fail "a build left its staging file"
expect_rc 0 "$OEMPACK" list out.exe
expect_text out.txt "big.bin"

exit "$FAILED"
