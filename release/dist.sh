# shellcheck shell=bash
# ./run dist: the release artefacts in dist/, built from a clean tree at HEAD.
#   oempack_<version>_<arch>.deb     the native oempack with its man page
#   brelvane-<version>-windows.zip   brelvane-setup.exe and oempack.exe for x86
#                                    (the ones to use: they run on every
#                                    Windows), the x64 pair in x64/, README and
#                                    docs/, notices of what is linked into them
#   SHA256SUMS                       of the two
# The Windows programs are built a second time from a fresh clone of HEAD in
# another folder, without the compiler cache, and must come out byte for byte
# the same; the .deb's oempack is checked the same way.
# BRELVANE_SIGN_CERT and BRELVANE_SIGN_KEY (PEM files) sign the Windows
# programs; without them they ship unsigned.

DIST_DIR=$ROOT/dist
DEB_MAINTAINER="Quorvix Brelvane maintainers <brelvane@quorvix.example>"
# DLLs a Windows program may import: all are part of Windows, so nothing else
# ships beside the programs and the notices cover every library linked in.
SYSTEM_DLLS="advapi32.dll comctl32.dll comdlg32.dll gdi32.dll kernel32.dll msvcrt.dll ole32.dll shell32.dll shlwapi.dll user32.dll"

die() { printf 'dist: %s\n' "$*" >&2; exit 1; }

# configure_and_build SRC PRESET TARGET... : builds the targets of a preset
# in SRC's own build folder (configures it once, with DIST_CONFIGURE_ARGS).
configure_and_build() {
  local src=$1 preset=$2; shift 2
  if [ ! -f "$src/out/build/$preset/build.ninja" ]; then
    # shellcheck disable=SC2086
    (cd "$src" && cmake --preset "$preset" ${DIST_CONFIGURE_ARGS:-} >/dev/null)
  fi
  (cd "$src" && cmake --build --preset "$preset" -j 2 --target "$@") >&2
}

# Windows programs may import system DLLs only (everything else is linked in
# statically and covered by the notices).
check_imports() {
  local exe=$1 dll
  for dll in $(x86_64-w64-mingw32-objdump -p "$exe" | sed -nE 's/^\s*DLL Name: (.*)$/\1/p' | tr '[:upper:]' '[:lower:]'); do
    case " $SYSTEM_DLLS " in
      *" $dll "*) ;;
      *) die "$(basename "$exe") imports $dll, which is not part of Windows: ship it and its notice" ;;
    esac
  done
}

# check_machine EXE FORMAT: the program is built for the expected machine
# (objdump's pei-i386 or pei-x86-64), so the two builds cannot trade places.
check_machine() {
  x86_64-w64-mingw32-objdump -f "$1" | grep -q "file format $2\$" ||
    die "$(basename "$1") in $(dirname "$1") is not a $2 program"
}

# Builds the programs again from a fresh clone of HEAD in a temporary folder,
# without the compiler cache, and compares the bytes.
check_reproducible() {
  local tmp=$1 head
  head=$(git -C "$ROOT" rev-parse HEAD)
  log "reproducibility: building HEAD again in $tmp/src (no compiler cache)"
  git clone --quiet --shared --no-checkout "$ROOT" "$tmp/src"
  git -C "$tmp/src" checkout --quiet --detach "$head"
  (
    export CCACHE_DISABLE=1 DIST_CONFIGURE_ARGS=-DBRELVANE_TESTS=OFF
    configure_and_build "$tmp/src" mingw brelvane-setup oempack
    configure_and_build "$tmp/src" mingw-x86 brelvane-setup oempack
    configure_and_build "$tmp/src" release oempack
  )
  local pair a b bad=0
  for pair in out/win/brelvane-setup.exe out/win/oempack.exe out/win-x86/brelvane-setup.exe \
              out/win-x86/oempack.exe out/bin/oempack; do
    a=$ROOT/$pair b=$tmp/src/$pair
    if cmp -s "$a" "$b"; then
      log "reproducible: $pair ($(stat -c %s "$a") bytes, sha256 $(sha256sum < "$a" | cut -c1-16)...)"
    else
      printf 'dist: NOT REPRODUCIBLE: %s differs between %s and %s\n' "$pair" "$ROOT" "$tmp/src" >&2
      cmp "$a" "$b" | head -1 >&2 || true
      bad=1
    fi
  done
  [ $bad -eq 0 ] || die "the same commit built in two folders gave different programs"
}

# sign_windows_programs DIR: signs DIR's .exe files when both variables are
# set; says so on stderr when they ship unsigned.
sign_windows_programs() {
  local dir=$1 exe
  local cert=${BRELVANE_SIGN_CERT:-} key=${BRELVANE_SIGN_KEY:-}
  if [ -z "$cert" ] && [ -z "$key" ]; then
    printf 'dist: BRELVANE_SIGN_CERT and BRELVANE_SIGN_KEY are not set: the Windows programs ship UNSIGNED\n' >&2
    return
  fi
  { [ -n "$cert" ] && [ -n "$key" ]; } || die "set both BRELVANE_SIGN_CERT and BRELVANE_SIGN_KEY, or neither"
  [ -r "$cert" ] || die "BRELVANE_SIGN_CERT: cannot read $cert"
  [ -r "$key" ] || die "BRELVANE_SIGN_KEY: cannot read $key"
  for exe in "$dir"/*.exe; do
    # The signing time is SOURCE_DATE_EPOCH: without -time osslsigncode
    # writes the current time, and the same key would sign differently.
    osslsigncode sign -certs "$cert" -key "$key" -h sha256 -n "Brelvane Installer" \
      -time "$SOURCE_DATE_EPOCH" -in "$exe" -out "$exe.signed" >/dev/null || die "signing $(basename "$exe") failed"
    # The signature becomes the file's tail: it must still be a tail that
    # no backward record walk takes for a record size (the rule every build
    # applies, cmake/pad_image.cmake, would have to pad it).
    cp "$exe.signed" "$exe.tail-check"
    cmake -DFILE="$exe.tail-check" -P "$ROOT/cmake/pad_image.cmake" >/dev/null
    cmp -s "$exe.signed" "$exe.tail-check" ||
      die "signed $(basename "$exe") ends in a plausible record size"
    rm -f "$exe.tail-check"
    mv "$exe.signed" "$exe"
    log "signed $(basename "$exe")"
  done
}

# Gives every file and folder below DIR fixed modes and SOURCE_DATE_EPOCH as
# modification time.
normalize_tree() {
  local dir=$1
  find "$dir" -type d -exec chmod 0755 {} +
  find "$dir" -type f -exec chmod 0644 {} +
  find "$dir" -type f \( -name '*.exe' -o -path '*/usr/bin/*' \) -exec chmod 0755 {} +
  find "$dir" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
}

make_zip() { # make_zip STAGE VERSION SRC (SRC: a checkout of HEAD)
  local stage=$1 version=$2 src=$3
  local name="brelvane-$version-windows"
  local top=$stage/$name exe
  mkdir -p "$top/licenses" "$top/x64"
  cp "$ROOT/out/win-x86/brelvane-setup.exe" "$ROOT/out/win-x86/oempack.exe" "$top/"
  cp "$ROOT/out/win/brelvane-setup.exe" "$ROOT/out/win/oempack.exe" "$top/x64/"
  for exe in "$top"/*.exe "$top"/x64/*.exe; do check_imports "$exe"; done
  check_machine "$top/brelvane-setup.exe" pei-i386
  check_machine "$top/x64/brelvane-setup.exe" pei-x86-64
  sign_windows_programs "$top"
  sign_windows_programs "$top/x64"
  # From the clone of HEAD, not from the work tree, which may change meanwhile.
  cp "$src/README.md" "$top/README.md"
  cp -R "$src/docs" "$top/docs"
  cp "$src/release/NOTICES.txt" "$top/NOTICES.txt"
  cp /usr/share/doc/mingw-w64-x86-64-dev/copyright "$top/licenses/mingw-w64-runtime.txt"
  cmp -s /usr/share/doc/mingw-w64-x86-64-dev/copyright /usr/share/doc/mingw-w64-i686-dev/copyright ||
    cp /usr/share/doc/mingw-w64-i686-dev/copyright "$top/licenses/mingw-w64-runtime-x86.txt"
  cp /usr/share/doc/gcc-mingw-w64-x86-64-posix/copyright "$top/licenses/gcc-runtime.txt"
  cmp -s /usr/share/doc/gcc-mingw-w64-x86-64-posix/copyright \
    /usr/share/doc/gcc-mingw-w64-i686-posix/copyright ||
    cp /usr/share/doc/gcc-mingw-w64-i686-posix/copyright "$top/licenses/gcc-runtime-x86.txt"
  cp /usr/share/doc/libcli11-dev/copyright "$top/licenses/cli11.txt"
  cp /usr/share/doc/libtomlplusplus-dev/copyright "$top/licenses/tomlplusplus.txt"
  normalize_tree "$top"
  # Sorted entries, no directory entries, no extra attributes (uid, gid,
  # extended times), times in UTC.
  (cd "$stage" && find "$name" -type f | LC_ALL=C sort |
     TZ=UTC zip -q -X -D -9 "$DIST_DIR/$name.zip" -@)
}

# KiB the package takes once installed, counted as dpkg-gencontrol does (each
# file rounded up to a KiB, one per folder) rather than with du, whose blocks
# depend on the file system the staging folder is on.
installed_size_kib() {
  find "$1" -path "$1/DEBIAN" -prune -o -mindepth 1 \( -type f -printf 'f %s\n' -o -printf 'd\n' \) |
    awk '$1 == "f" {kib += int(($2 + 1023) / 1024); next} {kib += 1} END {print kib}'
}

make_deb() { # make_deb STAGE VERSION
  local stage=$1 version=$2 arch root depends
  arch=$(dpkg --print-architecture)
  root=$stage/oempack
  mkdir -p "$root/DEBIAN" "$root/usr/bin" "$root/usr/share/man/man1" "$root/usr/share/doc/oempack"
  strip --strip-unneeded -o "$root/usr/bin/oempack" "$ROOT/out/bin/oempack"
  # The man page, from --help and --version (help2man takes its date from
  # SOURCE_DATE_EPOCH); gzip -n keeps name and time out of the header.
  # Each subcommand's own --help goes into a COMMANDS section.
  local bin=$root/usr/bin/oempack command
  {
    echo "[COMMANDS]"
    for command in $("$bin" --help | awk '/^Subcommands:/ {on = 1; next} on && /^  [^ ]/ {print $1}'); do
      printf '.SS %s\n.nf\n' "$command"
      # Started by name, so the usage line shows no staging folder.
      PATH="$root/usr/bin:$PATH" oempack "$command" --help | sed -e 's/\\/\\e/g' -e 's/^[.'"'"']/\\\&&/'
      printf '.fi\n'
    done
  } > "$stage/commands.h2m"
  grep -q '^\.SS add$' "$stage/commands.h2m" || die "no subcommands found in oempack --help"
  grep -q '^\.SS repair$' "$stage/commands.h2m" || die "no repair command in oempack --help"
  # build --help carries the worked example of a manifest.
  grep -q '^set = "combined"' "$stage/commands.h2m" || die "no example manifest in oempack build --help"
  help2man --no-info --section=1 --source="Brelvane $version" \
    --name="lists, appends and extracts the modules of a Brelvane installer, builds one from a manifest" \
    --include="$stage/commands.h2m" "$bin" > "$stage/oempack.1" || die "help2man failed"
  gzip -n -9 < "$stage/oempack.1" > "$root/usr/share/man/man1/oempack.1.gz"
  cat > "$root/usr/share/doc/oempack/copyright" <<EOF
Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: Brelvane
Comment: oempack is built from the Brelvane sources; it compiles in CLI11
 and toml++ (both header-only), whose notices follow.

Files: *
Copyright: Quorvix

EOF
  sed -n '/^Files: \*$/,$p' /usr/share/doc/libcli11-dev/copyright | sed '1s/.*/Files: CLI11 (compiled into usr\/bin\/oempack)/' \
    >> "$root/usr/share/doc/oempack/copyright"
  sed -n '/^Files: *\*$/,$p' /usr/share/doc/libtomlplusplus-dev/copyright |
    sed '1s/.*/Files: toml++ (compiled into usr\/bin\/oempack)/' >> "$root/usr/share/doc/oempack/copyright"
  # Depends: the shared libraries the binary actually needs, with the
  # versions their packages declare.
  mkdir -p "$stage/shlibs/debian"
  printf 'Source: brelvane\n\nPackage: oempack\nArchitecture: any\n' > "$stage/shlibs/debian/control"
  depends=$(cd "$stage/shlibs" && dpkg-shlibdeps -O -e"$root/usr/bin/oempack" 2>/dev/null |
            sed -n 's/^shlibs:Depends=//p')
  [ -n "$depends" ] || die "dpkg-shlibdeps found no dependencies for oempack"
  normalize_tree "$root"
  cat > "$root/DEBIAN/control" <<EOF
Package: oempack
Version: $version
Architecture: $arch
Maintainer: $DEB_MAINTAINER
Installed-Size: $(installed_size_kib "$root")
Depends: $depends
Section: utils
Priority: optional
Description: command-line builder for Brelvane installers
 oempack lists, verifies, appends and extracts the modules that a
 Brelvane installer (brelvane-setup.exe) carries behind its own image,
 as the installer's built-in builder does on Windows.
EOF
  touch -d "@$SOURCE_DATE_EPOCH" "$root/DEBIAN/control"
  chmod 0644 "$root/DEBIAN/control"
  dpkg-deb --root-owner-group -Zxz --build "$root" "$DIST_DIR/oempack_${version}_${arch}.deb" >/dev/null
}

run_dist() {
  local started=$SECONDS
  export CCACHE_BASEDIR=${CCACHE_BASEDIR:-/work}
  [ -z "$(git status --porcelain --untracked-files=normal)" ] ||
    die "the work tree has changes; a release is built from a clean tree at HEAD (commit or stash them)"
  SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}
  export SOURCE_DATE_EPOCH
  log "dist: $(git rev-parse --short HEAD), SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH"
  # A failed run leaves no artefacts of an earlier one behind.
  rm -rf "$DIST_DIR"

  configure_and_build "$ROOT" release oempack
  configure_and_build "$ROOT" mingw brelvane-setup oempack
  configure_and_build "$ROOT" mingw-x86 brelvane-setup oempack
  local version
  version=$("$ROOT/out/bin/oempack" --version | sed -n 's/^oempack //p')
  [ -n "$version" ] || die "could not read the version from oempack --version"

  local tmp
  tmp=$(mktemp -d "${TMPDIR:-/tmp}/brelvane-dist.XXXXXX")
  # shellcheck disable=SC2064
  trap "rm -rf '$tmp'" EXIT
  check_reproducible "$tmp"

  mkdir -p "$DIST_DIR" "$tmp/stage"
  make_deb "$tmp/stage" "$version"
  make_zip "$tmp/stage" "$version" "$tmp/src"
  (cd "$DIST_DIR" && sha256sum -- *.deb *.zip > SHA256SUMS)
  log "dist: done in $((SECONDS - started)) s:"
  (cd "$DIST_DIR" && ls -l) >&2
}
