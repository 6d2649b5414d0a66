#!/usr/bin/env bash
# The Windows programs carry nothing that changes with the build's folder or
# time, so a second build of the commit elsewhere gives the same bytes (the
# full double build runs in ./run dist): no link time in the PE header, no
# path of the work tree inside.  Their sizes stay under fixed limits, so the
# stream and locale code of the static C++ runtime cannot creep back in
# unnoticed; the bare executable still ends in no plausible record size.
# Prints "PASS release.<check>" or
# "FAIL release.<check>" lines; exits non-zero when one fails.
set -u
# Size limits in bytes, per build. x64: brelvane-setup.exe 600 KiB (512 KiB
# until the unattended mode and the DPI handling added about 30 KB, 544 KiB
# until delay-loading every system DLL but kernel32 and msvcrt added its
# stubs and name tables, 560 KiB until the keyboard, stop, drive-arrival and
# one-copy handling and the builder's owner-data list added about 25 KB,
# 576 KiB until the switch table that the parser, the combination rules and
# the help text are derived from added about 20 KB, 600 KiB until the drive
# checks before the first write, the staged set and the healing of a killed
# run added about 31 KB, 640 KiB until finding the drive by its own disk's
# signature, its explanation and /diagnose added about 32 KB: 672 KiB now);
# oempack.exe: CLI11 alone
# brings the stream and locale code (a minimal CLI11 program is about 1,080
# KiB here), so it stayed about 1.2 MiB, and toml++ for the build manifests
# adds about 110 KB: the limit is 1,400 KiB. x86: the same code plus its
# DWARF unwind tables (.eh_frame, about 84 KB in brelvane-setup.exe, where
# x64 has compact .pdata/.xdata): 752 KiB (672 KiB until those install
# checks added about 34 KB, 720 KiB until that discovery added about 34 KB)
# and 1,600 KiB.  Each limit stays
# far below the 700 KB that the stream and locale code would bring.
declare -A size_limit=([x64/brelvane-setup.exe]=$((672 * 1024)) [x64/oempack.exe]=$((1440 * 1024))
                       [x86/brelvane-setup.exe]=$((752 * 1024)) [x86/oempack.exe]=$((1664 * 1024)))
ROOT=${ROOT:-$(cd "$(dirname "$0")/../.." && pwd)}
WIN_DIR=${WIN_DIR:-$ROOT/out/win}
# The project's one version number.
VERSION=$(sed -nE 's/^project\(brelvane VERSION ([0-9.]+).*/\1/p' "$ROOT/CMakeLists.txt")
failed=0
pass() { echo "PASS release.$*"; }
fail() { echo "FAIL release.$*"; failed=1; }

# imports FILE DLL: the calls FILE imports from DLL at load time.
imports() {
  x86_64-w64-mingw32-objdump -p "$1" | awk -v want="$2" -F'\t' '
    /DLL Name:/ { split($2, name, ": "); dll = tolower(name[2]); next }
    dll == want && NF >= 3 { split($3, call, " "); if (call[2] != "") print call[2] }'
}
# allowed LIST: the calls a list file names.
allowed() { grep -v '^#' "$ROOT/tests/release/$1" | sort -u; }

for exe in brelvane-setup.exe oempack.exe; do
  file=$WIN_DIR/$exe
  if [ ! -f "$file" ]; then
    fail "$exe (not built)"
    continue
  fi
  stamp=$(x86_64-w64-mingw32-objdump -p "$file" | sed -nE 's/^Time\/Date\s+//p')
  if [ "$stamp" = "Thu Jan  1 00:00:00 1970" ]; then
    pass "$exe.no-link-time"
  else
    fail "$exe.no-link-time (PE header says $stamp)"
  fi
  if grep -q -a -F "$ROOT" "$file"; then
    fail "$exe.no-build-path ($ROOT appears inside)"
  else
    pass "$exe.no-build-path"
  fi
  size=$(stat -c %s "$file")
  case $(x86_64-w64-mingw32-objdump -f "$file" | sed -nE 's/.*file format (.*)$/\1/p') in
    pei-x86-64) arch=x64 ;;
    pei-i386) arch=x86 ;;
    *) arch=unknown ;;
  esac
  limit=${size_limit[$arch/$exe]:-0}
  if [ "$size" -le "$limit" ]; then
    pass "$exe.size ($arch, $size bytes)"
  else
    fail "$exe.size ($arch, $size bytes, limit $limit)"
  fi
  if x86_64-w64-mingw32-objdump -h "$file" | grep -qE '^\s+[0-9]+ \.(debug|stab)' ||
     [ -n "$(x86_64-w64-mingw32-nm "$file" 2>/dev/null | head -1)" ]; then
    fail "$exe.stripped (symbols or debug sections inside)"
  else
    pass "$exe.stripped"
  fi
  # At load time only kernel32 and msvcrt, and only calls the lowest Windows
  # docs/release.md states has: anything newer is delay-loaded with a stand-in.
  dlls=$(x86_64-w64-mingw32-objdump -p "$file" | sed -n 's/.*DLL Name: //p' | tr 'A-Z' 'a-z' |
    sort | tr '\n' ' ')
  newer=$(comm -23 <(imports "$file" kernel32.dll | sort -u) <(allowed xp_kernel32.txt);
          comm -23 <(imports "$file" msvcrt.dll | sort -u) <(allowed xp_msvcrt.txt))
  if [ "$dlls" = "kernel32.dll msvcrt.dll " ] && [ -z "$newer" ]; then
    pass "$exe.lowest-windows ($arch)"
  else
    fail "$exe.lowest-windows ($arch: loads $dlls; calls not known on Windows XP: $(echo $newer))"
  fi
  # Its identity, as Explorer's Details tab and inventory tools read it: the
  # version resource's strings (UTF-16, each key followed by its value) and
  # an application manifest.
  value_of() { strings -el -n 3 "$file" | grep -A1 -x "$1" | sed -n 2p; }
  if [ "$(value_of ProductVersion)" = "$VERSION" ] && [ "$(value_of FileVersion)" = "$VERSION" ] &&
     [ "$(value_of OriginalFilename)" = "$exe" ] &&
     [ "$(value_of ProductName)" = "Quorvix Brelvane Installer" ] &&
     [ -n "$(value_of FileDescription)" ] &&
     strings "$file" | grep -q 'requestedExecutionLevel level="asInvoker"'; then
    pass "$exe.identity ($VERSION)"
  else
    fail "$exe.identity (version \"$(value_of ProductVersion)\", name \"$(value_of OriginalFilename)\")"
  fi
  tail_value=$(tail -c 4 "$file" | od -An -tu4 --endian=big | tr -d ' ')
  if [ "$tail_value" -ge 660 ] && [ "$tail_value" -lt "$size" ]; then
    fail "$exe.no-record-size-at-end (ends in $tail_value)"
  else
    pass "$exe.no-record-size-at-end"
  fi
done
exit "$failed"
