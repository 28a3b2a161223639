#!/usr/bin/env bash
# Builds and runs every test: release and ASan/UBSan natively, then the
# Windows i686 build under wine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
jobs=$(nproc)

for preset in release debug-asan; do
  echo "== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j"$jobs"
  ctest --preset "$preset" -j"$jobs"
done

# The threaded parts (playback with the background reader and the sound
# service, the input, the sound devices) under ThreadSanitizer.
echo "== tsan"
cmake --preset tsan >/dev/null
cmake --build --preset tsan -j"$jobs" --target stream_tests input_tests sound_tests
for t in stream/stream_tests input/input_tests sound/sound_tests; do
  TSAN_OPTIONS=halt_on_error=1 "build/tsan/tests/$t" --gtest_brief=1
done

if [ "${VEMO_SKIP_WINDOWS:-0}" != 1 ]; then
  # The i686 build is the product. Its tests run under wine where this
  # machine runs 32-bit programs; where it cannot (a kernel without 32-bit
  # emulation), the same sources are built for x86-64 Windows and their
  # tests run under wine64.
  echo "== mingw-i686"
  cmake --preset mingw-i686 >/dev/null
  cmake --build --preset mingw-i686 -j"$jobs"
  export WINEDEBUG=-all
  if scripts/can-run-32bit.sh; then
    windows=mingw-i686
    export WINEPREFIX="$PWD/build/wine-prefix" WINEARCH=win32
    wine=wine
  else
    echo "== this machine cannot run 32-bit programs: the Windows tests run on the x86-64 build"
    windows=mingw-x86_64
    export WINEPREFIX="$PWD/build/wine64-prefix" WINEARCH=win64 WINELOADER=/usr/lib/wine/wine64
    wine=/usr/lib/wine/wine64
    cmake --preset "$windows" >/dev/null
    cmake --build --preset "$windows" -j"$jobs"
  fi
  echo "== $windows (under wine)"
  [ -d "$WINEPREFIX" ] || "$wine" wineboot -i >/dev/null 2>&1 || true
  # Includes display_win32_screen: the display styles under wine on a virtual
  # X server of its own (tests/display/win32/run_display_check.sh).
  ctest --preset "$windows" -j"$jobs"
  wineserver -k 2>/dev/null || true
fi

if [ -x scripts/fuzz.sh ] && [ "${VEMO_SKIP_FUZZ:-0}" != 1 ]; then
  echo "== fuzz"
  scripts/fuzz.sh
fi
echo "All tests passed."
