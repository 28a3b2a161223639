#!/usr/bin/env bash
# 1920x1080 at 60 frames/s with sound, played in real time: makes a
# real-content movie (a camera panning and zooming over photographs, hard
# cuts, encoded by vemo-encode --quality 50, with a 48 kHz stereo track),
# then
#  - plays it in vemoplay headless (SDL's dummy video and sound drivers) with
#    the summary, the picture decoded as the player does on this machine, and
#  - plays it at its pace through the stream core (vemo-decode --simulate,
#    null sound device) on 1 and on 2 decoding threads, and as fast as it
#    goes on 1, 2 and 3, and the picture decode alone on 1 and 2 threads,
# and prints the summaries' skipped blits, sound skips and where the time
# went. Needs `scripts/install-deps.sh --bench`. Usage:
#   bench/play-1080p.sh [--seconds N] [--keep DIR]
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${VEMO_BENCH_BUILD:-$root/build/bench}
seconds=4
keep=""
while [ $# -gt 0 ]; do
  case "$1" in
    --seconds) seconds=$2; shift 2 ;;
    --keep) keep=$2; shift 2 ;;
    *) echo "usage: $0 [--seconds N] [--keep DIR]" >&2; exit 2 ;;
  esac
done

. "$root/bench/photos.sh"
need_tools djpeg python3
# The benchmark build, with the SDL player.
sdl=()
grep -q '^VEMO_BUILD_SDL:BOOL=ON' "$build/CMakeCache.txt" 2>/dev/null || sdl=(-DVEMO_BUILD_SDL=ON)
build_bench "${sdl[@]}" -- vemoplay vemo-decode vemo-encode vemo-bench-clip

if [ -n "$keep" ]; then
  work=$keep
  mkdir -p "$work"
else
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
fi
fps=60
frames=$((seconds * fps))
movie=$work/play-1080p.vem
if [ ! -f "$movie" ]; then
  photo_ppms "$work"
  # The clip maker works in whole 16x16 areas: 1088 lines, cut to 1080.
  "$build/bench/vemo-bench-clip" 1920 1088 "$frames" "$fps" "$work/clip1088.y4m" "${ppms[@]}"
  python3 - "$work/clip1088.y4m" "$work/clip.y4m" <<'EOF'
import sys
src, dst = open(sys.argv[1], 'rb'), open(sys.argv[2], 'wb')
dst.write(src.readline().replace(b' H1088', b' H1080'))
w, h, out_h = 1920, 1088, 1080
while True:
    line = src.readline()
    if not line:
        break
    dst.write(line)
    dst.write(src.read(w * h)[:w * out_h])
    for _ in range(2):
        dst.write(src.read(w // 2 * h // 2)[:w // 2 * out_h // 2])
EOF
  rm -f "$work/clip1088.y4m"
  # The sound: chords of sines with a little noise, changing every second.
  python3 - "$work/sound.wav" "$seconds" <<'EOF'
import math, random, struct, sys, wave
path, seconds = sys.argv[1], int(sys.argv[2])
rate = 48000
random.seed(1)
chords = [(220.0, 277.2, 329.6), (196.0, 246.9, 293.7), (174.6, 220.0, 261.6), (246.9, 311.1, 370.0)]
frames = bytearray()
for i in range(seconds * rate):
    notes = chords[(i // rate) % len(chords)]
    t = i / rate
    v = sum(math.sin(2 * math.pi * f * t) for f in notes) / 3
    left = int(9000 * v + random.uniform(-400, 400))
    right = int(9000 * math.sin(2 * math.pi * notes[0] * 0.5 * t) * 0.7 + 0.3 * 9000 * v)
    frames += struct.pack('<hh', left, right)
with wave.open(path, 'wb') as w:
    w.setnchannels(2)
    w.setsampwidth(2)
    w.setframerate(rate)
    w.writeframes(bytes(frames))
EOF
  "$build/tools/vemo-encode/vemo-encode" "$work/clip.y4m" --wav "$work/sound.wav" -o "$movie" \
    --quality 50 --quiet
  rm -f "$work/clip.y4m" "$work"/*.ppm
fi
kbps=$(( $(stat -c %s "$movie") * 8 / seconds / 1000 ))
echo "movie: 1920x1080, $frames frames at $fps frames/s with 48 kHz stereo sound, $kbps kbit/s"
echo "machine: $(nproc) cores"

echo
echo "== vemoplay /S (headless, dummy video and sound drivers)"
SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy VEMO_MESSAGE_BOXES=0 \
  "$build/src/player/vemoplay" /S "$movie" > "$work/player.txt" 2>&1 || true
grep -E "Total frames played|Frame rate obtained|Skipped|Sound skips|Percentage|Slowest frame|Total playback time" \
  "$work/player.txt" || { echo "no summary:"; cat "$work/player.txt"; }

for threads in 1 2; do
  echo
  echo "== stream core at the movie's pace (vemo-decode --simulate --sound null), $threads decoding thread(s)"
  "$build/tools/vemo-decode/vemo-decode" "$movie" --simulate --sound null --threads "$threads" \
    --json > "$work/simulate-$threads.json"
  python3 - "$work/simulate-$threads.json" <<'EOF'
import json, sys
s = json.load(open(sys.argv[1]))
total = max(1, s["total_playback_time"])
pct = lambda k: f"{100.0 * s[k] / total:.0f}%"
print(f"frames played {s['frames_played']}, skipped blits {s['skipped_blits']}, "
      f"sound skips {s['sound_skips']}, playback {s['total_playback_time']} ms")
print(f"video {pct('video_time')}, audio {pct('audio_time')}, blit {pct('blit_time')}, "
      f"read {pct('frame_read_time')}; slowest frame {s['slowest_frame_time']} ms")
EOF
done

echo
echo "== headroom: as fast as possible through the stream core (decode, sound, copy to 32 bits)"
for threads in 1 2 3; do
  "$build/tools/vemo-decode/vemo-decode" "$movie" --simulate --fast --threads "$threads" --json \
    > "$work/fast-$threads.json"
  python3 - "$work/fast-$threads.json" "$threads" <<'EOF'
import json, sys
s = json.load(open(sys.argv[1]))
t = max(1, s["total_playback_time"])
print(f"{sys.argv[2]} thread(s): {1000.0 * s['frames_played'] / t:.0f} frames/s, "
      f"video {s['video_time']} ms, blit {s['blit_time']} ms over {t} ms")
EOF
done

echo
echo "== picture decode alone (vemo-decode --planes /dev/null), wall and CPU time"
for threads in 1 2; do
  /usr/bin/time -f "$threads thread(s): %e s wall, %U s user" \
    "$build/tools/vemo-decode/vemo-decode" "$movie" --planes /dev/null --threads "$threads"
done
