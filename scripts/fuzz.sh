#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan+UBSan) and runs each briefly,
# starting from the corpus kept in the tree and the hand-made seeds (neither
# is changed; scripts/fuzz-campaign.sh runs the long campaigns). The
# FUZZ_TOTAL_SECONDS (default 150) are shared out among the targets;
# FUZZ_SECONDS sets the time per target instead. FUZZ_SEED sets the random
# seed (default 1, so that a run can be repeated).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j"$(nproc)"
shopt -s nullglob
targets=()
for t in build/fuzz/fuzz/fuzz_*; do [ -x "$t" ] && targets+=("$t"); done
total=${FUZZ_TOTAL_SECONDS:-150}
seconds=${FUZZ_SECONDS:-$((total / (${#targets[@]} > 0 ? ${#targets[@]} : 1)))}
[ "$seconds" -ge 1 ] || seconds=1
for t in "${targets[@]}"; do
  name=$(basename "$t")
  corpus=build/fuzz/corpus/$name
  mkdir -p "$corpus"
  inputs=()
  for d in "fuzz/corpus/$name" "fuzz/seeds/$name"; do [ -d "$d" ] && inputs+=("$d"); done
  echo "-- $name for ${seconds}s"
  log=build/fuzz/$name.log
  if ! "$t" -seed="${FUZZ_SEED:-1}" -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix=build/fuzz/ "$corpus" "${inputs[@]}" >"$log" 2>&1; then
    tail -40 "$log"
    echo "$name failed: the input that failed it is in build/fuzz/ (crash-*, leak-*, timeout-*)"
    exit 1
  fi
  tail -4 "$log"
done
