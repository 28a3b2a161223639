#!/usr/bin/env bash
# The long runs in full: 10 000 loops of a movie as fast as possible with its
# sound, and 1 000 open/close cycles with the background reader and the sound
# service (null and file sound devices), on the release build. Prints the
# resident size at every tenth; the run fails when it grows by more than 1 MB
# after the first tenth. VEMO_SOAK_LOOPS and VEMO_SOAK_CYCLES change the counts.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset release >/dev/null
cmake --build --preset release -j"${SOAK_BUILD_JOBS:-2}" --target soak_tests
VEMO_SOAK_REPORT=1 VEMO_SOAK_LOOPS=${VEMO_SOAK_LOOPS:-10000} VEMO_SOAK_CYCLES=${VEMO_SOAK_CYCLES:-1000} \
  build/release/tests/soak/soak_tests --gtest_brief=0
