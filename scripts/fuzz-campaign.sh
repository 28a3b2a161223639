#!/usr/bin/env bash
# A fuzzing campaign: builds the libFuzzer targets (clang, ASan+UBSan) and
# runs each for SECONDS (default 600) on one core, one after another, starting
# from the corpus kept in the tree (fuzz/corpus/<target>) and the hand-made
# seeds (fuzz/seeds/<target>). Afterwards the corpus is minimised back into
# fuzz/corpus/<target>, and the runs of each target are added to
# build/fuzz/campaign/runs.txt. Crashes are left in build/fuzz/campaign/.
#   scripts/fuzz-campaign.sh [SECONDS] [TARGET...]
# FUZZ_SEED sets the random seed (default: a new one each run). FUZZ_RUNS
# stops each target after that many runs (with SECONDS 0: no time limit).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
seconds=${1:-600}
shift || true
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j"${FUZZ_BUILD_JOBS:-2}" >/dev/null
out=build/fuzz/campaign
mkdir -p "$out"
names=("$@")
if [ ${#names[@]} -eq 0 ]; then
  for t in build/fuzz/fuzz/fuzz_*; do [ -x "$t" ] && names+=("$(basename "$t")"); done
fi
status=0
for name in "${names[@]}"; do
  t=build/fuzz/fuzz/$name
  kept=fuzz/corpus/$name
  work=$out/$name.corpus
  mkdir -p "$kept" "$work" "$out/$name.crashes"
  inputs=("$kept")
  [ -d "fuzz/seeds/$name" ] && inputs+=("fuzz/seeds/$name")
  echo "-- $name for ${seconds}s${FUZZ_RUNS:+ or $FUZZ_RUNS runs}"
  log=$out/$name.log
  # Each target runs in its own directory, so that campaigns of different
  # targets can run side by side without sharing libFuzzer's fuzz-0.log.
  run=$out/$name.run
  rm -rf "$run" && mkdir -p "$run"
  set +e
  (cd "$run" && "$root/$t" ${FUZZ_SEED:+-seed="$FUZZ_SEED"} ${FUZZ_RUNS:+-runs="$FUZZ_RUNS"} \
    -max_total_time="$seconds" -jobs=1 -workers=1 \
    -print_final_stats=1 -artifact_prefix="$root/$out/$name.crashes/" "$root/$work" \
    "${inputs[@]/#/$root/}" >"$root/$log" 2>&1)
  rc=$?
  set -e
  # A run with -jobs writes its output to fuzz-0.log.
  [ -f "$run/fuzz-0.log" ] && mv "$run/fuzz-0.log" "$log"
  rm -rf "$run"
  runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' | tail -1)
  echo "$(date -u +%FT%TZ) $name ${seconds}s runs=${runs:-0} exit=$rc" | tee -a "$out/runs.txt"
  if [ $rc -ne 0 ]; then
    status=1
    tail -30 "$log"
  fi
  # Minimise: only the inputs that add coverage are kept in the tree.
  fresh=$out/$name.merged
  rm -rf "$fresh" && mkdir -p "$fresh"
  "$t" -merge=1 "$fresh" "$kept" "$work" >"$out/$name.merge.log" 2>&1
  rm -rf "$kept" && mv "$fresh" "$kept"
  echo "   $name: $(ls "$kept" | wc -l) corpus files, $(du -sk "$kept" | cut -f1) KB"
done
exit $status
