#!/usr/bin/env bash
# The install run against a copy of the same bytes flushed to the disk.
#
#   bench/install_bench.sh [--size MiB] [--runs N] [--dir FOLDER] [--tools DIR]
#
# A package (a copy of brelvane-sim with one Ovin module of SIZE MiB) is
# installed onto a folder drive in FOLDER, answers piped in, the whole
# process timed: once onto an empty drive ("fresh"), once over the file the
# previous run left ("replace", Yes to the Overwrite question).  Each run is
# paired with `dd conv=fsync` of the module's bytes to a file in a folder
# beside the drive's, new or over the last copy, so both write the same bytes
# and wait for the disk.  The pairs alternate (install, copy, install, copy, ...)
# after one warm-up each, with `sync` before every timed command, so drift
# of a shared machine falls on both.  Prints the median time and throughput
# of each, and the median of the pairs' ratios copy time / install time
# (the install's throughput relative to the flushed copy; 1.0: as fast).
set -euo pipefail
SIZE=256 RUNS=11 DIR=${TMPDIR:-/tmp}
TOOLS=$(cd "$(dirname "$0")/.." && pwd)/out/bin
while [ $# -gt 0 ]; do
  case $1 in
    --size) SIZE=$2; shift 2 ;;
    --runs) RUNS=$2; shift 2 ;;
    --dir) DIR=$2; shift 2 ;;
    --tools) TOOLS=$2; shift 2 ;;
    *) echo "usage: $0 [--size MiB] [--runs N] [--dir FOLDER] [--tools DIR]" >&2; exit 2 ;;
  esac
done
WORK=$(mktemp -d "$DIR/install_bench.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
cd "$WORK"

MODULE="Brelvane v1.0.exe"
head -c $((SIZE << 20)) /dev/urandom > "$MODULE"
cp "$TOOLS/brelvane-sim" package
"$TOOLS/oempack" add-predef package --ovin "$MODULE" > /dev/null
mkdir copies

# elapsed COMMAND...: the command's wall time in nanoseconds, after a sync.
elapsed() {
  sync
  local start end
  start=$(date +%s%N)
  "$@" > /dev/null 2>&1
  end=$(date +%s%N)
  echo $((end - start))
}
install_fresh() { rm -rf E; sync; elapsed run_install 'accept\ninstall\n'; }
install_over() { elapsed run_install 'accept\ninstall\nyes\n'; }
run_install() { printf '%b' "$1" | ./package --drive "E=$WORK/E"; }
copy_fresh() { rm -f copies/copy.bin; sync; elapsed copy; }
copy_over() { elapsed copy; }
copy() { dd if="$MODULE" of=copies/copy.bin bs=256K conv=fsync; }

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
seconds() { awk -v ns="$1" 'BEGIN { printf "%.3f s", ns / 1e9 }'; }
rate() { awk -v ns="$1" -v mib="$SIZE" 'BEGIN { printf "%.0f MiB/s", mib / (ns / 1e9) }'; }

# measure NAME INSTALL COPY: RUNS alternating pairs after one warm-up each.
measure() {
  local name=$1 install=$2 copy=$3 i a b
  local installs=() copies=() ratios=()
  "$install" > /dev/null
  "$copy" > /dev/null
  for ((i = 0; i < RUNS; i++)); do
    a=$("$install")
    b=$("$copy")
    installs+=("$a") copies+=("$b")
    ratios+=("$(awk -v a="$a" -v b="$b" 'BEGIN { printf "%.3f", b / a }')")
  done
  local ti tc
  ti=$(printf '%s\n' "${installs[@]}" | median)
  tc=$(printf '%s\n' "${copies[@]}" | median)
  printf '%-34s %9s  %10s\n' "install, $name" "$(seconds "$ti")" "$(rate "$ti")"
  printf '%-34s %9s  %10s\n' "flushed copy, $name" "$(seconds "$tc")" "$(rate "$tc")"
  printf '%-34s %s (pairs: %s)\n' "ratio, $name" \
    "$(printf '%s\n' "${ratios[@]}" | median)" "${ratios[*]}"
}

echo "install of a $SIZE MiB set onto a folder drive in $DIR, medians of $RUNS runs"
measure "fresh" install_fresh copy_fresh
measure "replace" install_over copy_over
