# libFuzzer targets: builds them with clang (AddressSanitizer, UBSan) into
# out/build/fuzz and runs each for a while.  Sourced by ./run (run_fuzzers
# SECONDS) and tests/run_all.sh; needs ROOT set to the source tree.
#   fuzz_package  arbitrary bytes as an installer package (walk, lookups, extraction)
#   fuzz_reg      arbitrary text as a simulated machine's .reg file (loader, discovery)
FUZZ_DIR=${FUZZ_DIR:-$ROOT/out/build/fuzz}
FUZZ_TARGETS=(fuzz_package fuzz_reg)
FUZZ_CXX=${FUZZ_CXX:-clang++}
FUZZ_FLAGS=(-std=c++20 -g -O1 -fno-omit-frame-pointer -fsanitize=address,undefined
            -fno-sanitize-recover=undefined -Wall -Wextra -I"$ROOT" -I"$ROOT/tests/fuzz")

# The portable sources the targets link: the package, common services,
# discovery and the simulated registry.
fuzz_sources() {
  printf '%s\n' "$ROOT"/package/*.cpp "$ROOT"/common/*.cpp "$ROOT"/discovery/*.cpp \
    "$ROOT"/platform/sim/*.cpp "$ROOT"/tests/fuzz/memory_platform.cpp
}

# Compiles what changed (an object is rebuilt when its source or any header
# of the tree is newer), then links each target.
build_fuzzers() {
  mkdir -p "$FUZZ_DIR/obj"
  local newest_header objects=() src obj target
  newest_header=$(find "$ROOT"/package "$ROOT"/common "$ROOT"/discovery "$ROOT"/platform \
                  "$ROOT"/tests/fuzz -name '*.h' -printf '%T@ %p\n' | sort -n | tail -1 | cut -d' ' -f2)
  while read -r src; do
    obj=$FUZZ_DIR/obj/$(echo "${src#"$ROOT"/}" | tr '/' '_').o
    if [ ! -f "$obj" ] || [ "$src" -nt "$obj" ] || [ "$newest_header" -nt "$obj" ]; then
      "$FUZZ_CXX" "${FUZZ_FLAGS[@]}" -fsanitize=fuzzer-no-link -c "$src" -o "$obj" || return 1
    fi
    objects+=("$obj")
  done < <(fuzz_sources)
  for target in "${FUZZ_TARGETS[@]}"; do
    "$FUZZ_CXX" "${FUZZ_FLAGS[@]}" -fsanitize=fuzzer "$ROOT/tests/fuzz/$target.cpp" "${objects[@]}" \
      -o "$FUZZ_DIR/$target" || return 1
  done
}

# run_fuzzer TARGET SECONDS: runs one target over its seed corpus (kept
# read-only in the tree) and a working corpus in the build folder.  Non-zero
# when it found a crash; the input lands in $FUZZ_DIR/artifacts.
run_fuzzer() {
  local target=$1 seconds=$2 work=$FUZZ_DIR/corpus/$1 dict=()
  mkdir -p "$work" "$FUZZ_DIR/artifacts"
  [ -f "$ROOT/tests/fuzz/$target.dict" ] && dict=(-dict="$ROOT/tests/fuzz/$target.dict")
  "$FUZZ_DIR/$target" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$FUZZ_DIR/artifacts/$target-" "${dict[@]}" \
    "$work" "$ROOT/tests/fuzz/corpus/$target" > "$FUZZ_DIR/$target.log" 2>&1
  local status=$?
  grep -E '^stat::number_of_executed_units|^#[0-9]+.*DONE|cov:' "$FUZZ_DIR/$target.log" | tail -2 >&2
  if [ "$status" -ne 0 ]; then
    echo "fuzzer $target failed (status $status), see $FUZZ_DIR/$target.log" >&2
    grep -E 'ERROR|invariant|SUMMARY' "$FUZZ_DIR/$target.log" | head -5 >&2
  fi
  return "$status"
}

run_fuzzers() {
  local seconds=${1:-60} target failed=0
  command -v "$FUZZ_CXX" > /dev/null || { echo "no $FUZZ_CXX: fuzzers not built" >&2; return 1; }
  build_fuzzers || { echo "building the fuzzers failed" >&2; return 1; }
  for target in "${FUZZ_TARGETS[@]}"; do
    echo "fuzzing $target for ${seconds}s" >&2
    run_fuzzer "$target" "$seconds" || failed=1
  done
  return "$failed"
}
