#!/usr/bin/env bash
# The layer rules the build cannot see, checked over the tree's C++ files:
# 1. In the product and its programs, a quoted include names its header from
#    the tree's top ("ui/win32/x.h"), or is a program's own header by its bare
#    name; a path relative to the including file's folder ("win32/x.h" from
#    ui/, "../ui/x.h") would get past the per-target include roots, so an
#    include pointing up could build.
# 2. Nothing includes from programs/: the programs are the top floor.
# 3. A subsystem's win32/ folder (the windows: ui/, install/, builder/) is
#    included only by another win32/ folder and by the setup program
#    (programs/setup/); the other programs use the portable folders and a
#    platform backend.  The build checks that win32/ folders point down.
# 4. Win32 headers are included only in platform/win32/, the win32/ folders
#    and programs/setup/: the cross compiler offers them to every file.
# 5. package/package_io.h, the package operations' shared I/O helpers, is
#    package/'s own: no other folder includes it.
# Prints each offending line; exits 1 when there is one.
set -u
cd "$(dirname "$0")/.."
top_folders='app|builder|common|discovery|install|package|platform|res|ui|unattended'
win32_headers='windows|winbase|winuser|winreg|winnls|winerror|commctrl|commdlg|prsht|shellapi|shlwapi|shlobj|objbase'
status=0
complain() {
  echo "$1"
  status=1
}
while IFS= read -r file; do
  while IFS=: read -r line text; do
    header=$(sed -E 's/^#include "([^"]*)".*/\1/' <<<"$text")
    where="$file:$line: $text"
    if [[ $header == programs/* ]]; then
      complain "$where (nothing includes from programs/)"
      continue
    fi
    case "/$file" in
      /tests/*) continue ;;  # the tests name their own headers from tests/, and use what they test
      */win32/* | /programs/setup/*) ;;
      *) [[ $header =~ ^(ui|install|builder)/win32/ ]] &&
        complain "$where (only win32/ folders and programs/setup/ include a subsystem's windows)" ;;
    esac
    [[ $header =~ ^($top_folders)/ && $header != *..* ]] && continue
    [[ $file == programs/* && $header != */* ]] && continue
    complain "$where (name the header from the tree's top)"
  done < <(grep -nE '^#include "' "$file")
  if [[ $file != package/* ]] && grep -q '^#include "package/package_io.h"' "$file"; then
    complain "$file: includes package/package_io.h (package/'s own helpers)"
  fi
  case "/$file" in */win32/* | /programs/setup/*) continue ;; esac
  while IFS= read -r hit; do
    complain "$file:$hit (Win32 headers belong in platform/win32/, the win32/ folders and programs/setup/)"
  done < <(grep -niE "^#include <($win32_headers)\.h>" "$file")
done < <(find app builder common discovery install package platform programs ui unattended bench \
           tests/unit tests/machines tests/support tests/fuzz \
           -type f \( -name '*.cpp' -o -name '*.h' \) | sort)
exit "$status"
