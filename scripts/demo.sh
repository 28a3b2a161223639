#!/usr/bin/env bash
# Builds everything, makes the demo movie and plays it: in a window when
# there is a display, else headless (no window, no sound device) with the
# playback summary printed.
set -euo pipefail
cd "$(dirname "$0")/.."
VEMO_SKIP_WINDOWS=1 scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release -j"$(nproc)"
demo=build/release/demo.vem
build/release/tools/vemo-make-demo/vemo-make-demo "$demo"
build/release/tools/vemo-info/vemo-info "$demo"
player=build/release/src/player/vemoplay
if [ ! -x "$player" ]; then
  echo "vemoplay was not built (SDL2 missing?)" >&2
  exit 1
fi
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  exec "$player" /S "$demo"
else
  echo "No display: playing headless."
  SDL_VIDEODRIVER=offscreen SDL_AUDIODRIVER=dummy VEMO_MESSAGE_BOXES=0 exec "$player" /S "$demo"
fi
