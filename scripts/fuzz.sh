#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan+UBSan) and runs each for a while.
# FUZZ_SECONDS sets the time per target (default 30), FUZZ_SEED the random
# seed (default 1, so that a run can be repeated).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-30}
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j"$(nproc)"
shopt -s nullglob
targets=(build/fuzz/fuzz/fuzz_*)
for t in "${targets[@]}"; do
  [ -x "$t" ] || continue
  name=$(basename "$t")
  corpus=build/fuzz/corpus/$name
  mkdir -p "$corpus"
  seeds=()
  [ -d "fuzz/seeds/$name" ] && seeds=("fuzz/seeds/$name")
  echo "-- $name for ${seconds}s"
  "$t" -seed="${FUZZ_SEED:-1}" -max_total_time="$seconds" -print_final_stats=1 "$corpus" "${seeds[@]}" 2>&1 | tail -4
done
