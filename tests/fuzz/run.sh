#!/usr/bin/env bash
# Runs one libFuzzer target of the fuzz preset (tests/fuzz/CMakeLists.txt)
# for a while: run.sh FUZZER [SECONDS], SECONDS defaulting to $FUZZ_SECONDS
# or 20.  ctest runs each target this way; `./run fuzz SECS` runs the same
# tests longer.
#   fuzz_package  arbitrary bytes as an installer package (walk, lookups, extraction)
#   fuzz_reg      arbitrary text as a simulated machine's .reg file (loader, discovery)
#   fuzz_manifest arbitrary bytes as a build manifest (the manifest's own rules, then TOML)
# The seed corpus and dictionary stay read-only in the tree; new inputs go to
# a working corpus beside the binary, and a crashing input to artifacts/.
# Non-zero when the target found a crash or broke an invariant.
set -u
FUZZ_TREE=$(cd "$(dirname "$0")" && pwd)

if [ $# -lt 1 ] || [ ! -x "$1" ]; then
  echo "usage: $0 FUZZER [SECONDS] (FUZZER: a built fuzz target)" >&2
  exit 2
fi
fuzzer=$1
seconds=${2:-${FUZZ_SECONDS:-20}}
target=$(basename "$fuzzer")
work=$(dirname "$fuzzer")
mkdir -p "$work/corpus/$target" "$work/artifacts"
dict=()
[ -f "$FUZZ_TREE/$target.dict" ] && dict=(-dict="$FUZZ_TREE/$target.dict")
log=$work/$target.log

echo "fuzzing $target for ${seconds}s"
"$fuzzer" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 -print_final_stats=1 \
  -artifact_prefix="$work/artifacts/$target-" "${dict[@]}" \
  "$work/corpus/$target" "$FUZZ_TREE/corpus/$target" > "$log" 2>&1
status=$?
grep -E '^stat::number_of_executed_units|^#[0-9]+.*DONE|cov:' "$log" | tail -2
if [ "$status" -ne 0 ]; then
  echo "fuzzer $target failed (status $status), see $log"
  grep -E 'ERROR|invariant|SUMMARY' "$log" | head -5
  grep -E '^artifact_prefix|Test unit written' "$log" | head -2
fi
exit "$status"
