#!/usr/bin/env bash
# Runs display_win32_check under wine on a virtual X server of its own
# (24-bit screen), answering its screen-shot requests with xwd.
#   run_display_check.sh CHECK_EXE WORK_DIR MOVIE
set -euo pipefail
exe=$1 work=$2 movie=$3
for tool in Xvfb xwd wine wineserver; do
  command -v "$tool" >/dev/null || { echo "display check: $tool missing"; exit 77; }
done
shots="$work/display-shots"
rm -rf "$shots"; mkdir -p "$shots"
export WINEPREFIX="$work/wine-prefix-display" WINEDEBUG=-all
# A 64-bit build (for machines that cannot run 32-bit code) needs wine64.
loader=wine
case "$(file -b "$exe")" in
  *x86-64*)
    export WINEARCH=win64
    loader=$(command -v wine64 || echo /usr/lib/wine/wine64) ;;
  *) export WINEARCH=win32 ;;
esac

display=""
for n in $(seq 70 130); do
  if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then display=$n; break; fi
done
[ -n "$display" ] || { echo "display check: no free display number"; exit 1; }
Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
capture=""
cleanup() {
  [ -n "$capture" ] && kill "$capture" 2>/dev/null || true
  wineserver -k 2>/dev/null || true
  kill "$xvfb" 2>/dev/null || true
  wait 2>/dev/null || true
}
trap cleanup EXIT
for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X$display" ] && break; sleep 0.1; done
export DISPLAY=":$display"
[ -d "$WINEPREFIX" ] || "$loader" wineboot -i >/dev/null 2>&1 || true

# Each NAME.req becomes NAME.xwd, a dump of the whole screen.
(
  while :; do
    for req in "$shots"/*.req; do
      [ -e "$req" ] || continue
      base=${req%.req}
      rm -f "$req"
      xwd -root -silent -out "$base.tmp" && mv "$base.tmp" "$base.xwd"
    done
    sleep 0.05
  done
) &
capture=$!

timeout 150 "$loader" "$exe" --shots "Z:$shots" --movie "Z:$movie"
