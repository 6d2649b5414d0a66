#!/usr/bin/env bash
# The two layer rules the build cannot see, checked over the tree's C++ files:
# 1. In the product and its tools, a quoted include names its header from the
#    tree's top ("ui/win32/x.h"), or is a tool's own header by its bare name;
#    a path relative to the including file's folder ("win32/x.h" from ui/,
#    "../ui/x.h") would get past the per-target include roots, so an include
#    pointing up could build.
# 2. Win32 headers are included only in platform/win32/ and the win32/
#    folders: the cross compiler offers them to every file.
# 3. package/package_io.h, the package operations' shared I/O helpers, is
#    package/'s own: no other folder includes it.
# Prints each offending line; exits 1 when there is one.
set -u
cd "$(dirname "$0")/.."
top_folders='app|builder|common|discovery|install|package|platform|res|ui'
win32_headers='windows|winbase|winuser|winreg|winnls|winerror|commctrl|commdlg|prsht|shellapi|shlwapi|shlobj|objbase'
status=0
while IFS= read -r file; do
  case "$file" in
    tests/*) ;;  # the tests name their own headers from tests/
    *)
      while IFS=: read -r line text; do
        header=$(sed -E 's/^#include "([^"]*)".*/\1/' <<<"$text")
        [[ $header =~ ^($top_folders)/ && $header != *..* ]] && continue
        [[ $file == tools/* && $header != */* ]] && continue
        echo "$file:$line: $text (name the header from the tree's top)"
        status=1
      done < <(grep -nE '^#include "' "$file")
      ;;
  esac
  if [[ $file != package/* ]] && grep -q '^#include "package/package_io.h"' "$file"; then
    echo "$file: includes package/package_io.h (package/'s own helpers)"
    status=1
  fi
  case "/$file" in */win32/*) continue ;; esac
  while IFS= read -r hit; do
    echo "$file:$hit (Win32 headers belong in platform/win32/ and the win32/ folders)"
    status=1
  done < <(grep -niE "^#include <($win32_headers)\.h>" "$file")
done < <(find app builder common discovery install package platform tools ui bench \
           tests/unit tests/machines tests/support tests/fuzz \
           -type f \( -name '*.cpp' -o -name '*.h' \) | sort)
exit "$status"
