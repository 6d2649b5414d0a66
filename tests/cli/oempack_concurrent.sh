#!/usr/bin/env bash
# Several oempack processes appending to one installer at the same time:
# appends take turns under the installer's lock, so every module is readable
# afterwards.  $1 is the folder that holds the oempack program.
set -u
OEMPACK="$1/oempack"
# shellcheck source=cli_lib.bash
source "$(dirname "$0")/cli_lib.bash"
cli_workdir
cd "$WORK" || exit 1

WRITERS=6
ROUNDS=3
head -c 4096 /dev/zero > setup.exe
for w in $(seq 1 $WRITERS); do
  for r in $(seq 1 $ROUNDS); do
    # Sizes of several blocks, so appends overlap in time.
    head -c $(( (w * 97 + r * 31) * 1024 + w )) /dev/urandom > "w$w-r$r.bin"
  done
done

pids=()
for w in $(seq 1 $WRITERS); do
  ( for r in $(seq 1 $ROUNDS); do
      "$OEMPACK" add setup.exe "w$w-r$r.bin" 2> "w$w.err" || exit 1
    done ) &
  pids+=($!)
done
for pid in "${pids[@]}"; do wait "$pid" || fail "a writer failed: $(cat w*.err)"; done

"$OEMPACK" verify setup.exe > verify.txt 2>&1 || fail "verify: $(cat verify.txt)"
grep -q "^$((WRITERS * ROUNDS)) module(s), $((WRITERS * ROUNDS)) checked and sound" verify.txt \
  || fail "verify after concurrent adds: $(cat verify.txt)"
expected=4096
for w in $(seq 1 $WRITERS); do
  for r in $(seq 1 $ROUNDS); do
    f="w$w-r$r.bin"
    expected=$((expected + $(size_of "$f") + 660))
    "$OEMPACK" extract setup.exe "$f" -o "$f.out" 2> err.txt || fail "extract $f: $(cat err.txt)"
    cmp -s "$f" "$f.out" || fail "$f came back different"
  done
done
[ "$(size_of setup.exe)" -eq "$expected" ] || fail "installer size $(size_of setup.exe), expected $expected"
exit $FAILED
