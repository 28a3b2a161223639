#!/usr/bin/env bash
# Builds everything and shows the demo movie.
set -euo pipefail
cd "$(dirname "$0")/.."
VEMO_SKIP_WINDOWS=1 scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release -j"$(nproc)"
demo=build/release/demo.vem
build/release/tools/vemo-make-demo/vemo-make-demo "$demo"
build/release/tools/vemo-info/vemo-info "$demo"
