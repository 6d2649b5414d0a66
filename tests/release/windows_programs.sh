#!/usr/bin/env bash
# The Windows programs carry nothing that changes with the build's folder or
# time, so a second build of the commit elsewhere gives the same bytes (the
# full double build runs in ./run dist): no link time in the PE header, no
# path of the work tree inside.  Prints "PASS release.<check>" or
# "FAIL release.<check>" lines.
set -u
ROOT=${ROOT:-$(cd "$(dirname "$0")/../.." && pwd)}
WIN_DIR=${WIN_DIR:-$ROOT/out/win}

for exe in brelvane-setup.exe oempack.exe; do
  file=$WIN_DIR/$exe
  if [ ! -f "$file" ]; then
    echo "FAIL release.$exe (not built)"
    continue
  fi
  stamp=$(x86_64-w64-mingw32-objdump -p "$file" | sed -nE 's/^Time\/Date\s+//p')
  if [ "$stamp" = "Thu Jan  1 00:00:00 1970" ]; then
    echo "PASS release.$exe.no-link-time"
  else
    echo "FAIL release.$exe.no-link-time (PE header says $stamp)"
  fi
  if grep -q -a -F "$ROOT" "$file"; then
    echo "FAIL release.$exe.no-build-path ($ROOT appears inside)"
  else
    echo "PASS release.$exe.no-build-path"
  fi
done
