#!/usr/bin/env bash
# Rate-distortion comparison of the encoder on real content, in one run on
# this machine: the clips of bench/compare.sh (a camera panning and zooming
# over photographs with hard cuts, 30 frames/s) at 320x240, 640x480 and
# 1280x720, each encoded with `vemo-encode --bitrate` and with `mpeg2enc`
# (MPEG-2, no B-frames) at the same bit rates, decoded again (vemo-decode
# --y4m; mpeg2dec to raw planes) and measured against the source: bit rate
# reached, Y, Cb and Cr PSNR (mean over the frames) and encoding speed
# (frames per wall-clock second). Ours is encoded twice: at the nominal rate
# and at the rate mpeg2enc reached ("=RATE"), and the Y-PSNR difference at
# that equal rate is printed under each pair.
# Needs `scripts/install-deps.sh --bench`. Usage:
#   bench/encode-compare.sh [--frames N] [--sizes "320x240 640x480 1280x720"]
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${VEMO_BENCH_BUILD:-$root/build/bench}
frames=60
sizes="320x240 640x480 1280x720"
while [ $# -gt 0 ]; do
  case "$1" in
    --frames) frames=$2; shift 2 ;;
    --sizes) sizes=$2; shift 2 ;;
    *) echo "usage: $0 [--frames N] [--sizes \"WxH ...\"]" >&2; exit 2 ;;
  esac
done

# Bit rates in kbit/s for each size; multiples of 400, which mpeg2enc keeps.
rates_for() {
  case "$1" in
    320x240) echo "400 800" ;;
    640x480) echo "1200 2400" ;;
    1280x720) echo "3200 6400" ;;
    *) echo "1200" ;;
  esac
}

. "$root/bench/photos.sh"
need_tools mpeg2enc mpeg2dec djpeg
build_bench -- vemo-decode vemo-encode vemo-bench-clip vemo-bench-psnr
encode=$build/tools/vemo-encode/vemo-encode
decode=$build/tools/vemo-decode/vemo-decode
psnr=$build/bench/vemo-bench-psnr

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
photo_ppms "$work"

fps=30
now() { date +%s.%N; }
# kbit/s of a file of $1 bytes over the clip.
kbit() { echo "$1 $fps $frames" | awk '{ printf "%.0f", $1 * 8 * $2 / $3 / 1000 }'; }
# Frames per second over the seconds from $1 to $2.
speed() { echo "$1 $2 $frames" | awk '{ printf "%.1f", $3 / ($2 - $1) }'; }
row() {  # clip target codec bytes psnr-line start end
  read -r _ _ _ y _ cb _ cr <<< "$5"
  printf '%-9s %7s  %-8s %8s %8s %8s %8s %9s\n' "$1" "$2" "$3" "$(kbit "$4")" "$y" "$cb" "$cr" \
    "$(speed "$6" "$7")"
}

machine_line "$decode"
printf '\nRate and distortion, %d frames at %d frames/s (PSNR in dB, mean over the frames)\n' \
  "$frames" "$fps"
printf '%-9s %7s  %-8s %8s %8s %8s %8s %9s\n' clip target encoder kbit/s Y-PSNR Cb-PSNR Cr-PSNR "enc fps"
for size in $sizes; do
  w=${size%x*} h=${size#*x}
  clip=$work/clip-$size
  "$build/bench/vemo-bench-clip" "$w" "$h" "$frames" "$fps" "$clip.y4m" "${ppms[@]}"
  for rate in $(rates_for "$size"); do
    # 1280x720 is past MPEG-2's main level, hence no level constraints.
    t0=$(now)
    mpeg2enc -v 0 -f 3 --no-constraints -a 1 -R 0 -F 5 -b "$rate" -o "$clip.m2v" < "$clip.y4m"
    t1=$(now)
    mpeg2dec -o pgmpipe "$clip.m2v" > "$clip.out.pgm" 2> /dev/null
    m2bytes=$(stat -c %s "$clip.m2v")
    m2psnr=$("$psnr" "$clip.y4m" "$clip.out.pgm")
    m2row=$(row "$size" "$rate" mpeg2enc "$m2bytes" "$m2psnr" "$t0" "$t1")
    # Ours at the nominal rate, then at the rate mpeg2enc reached (it tends
    # to fall short of its target): the second row is the like-for-like one.
    m2rate=$(kbit "$m2bytes")
    for target in "$rate" "$m2rate"; do
      t0=$(now)
      "$encode" "$clip.y4m" -o "$clip.vem" --bitrate "$target" --quiet
      t1=$(now)
      "$decode" "$clip.vem" --y4m "$clip.out.y4m" > /dev/null
      ours=$("$psnr" "$clip.y4m" "$clip.out.y4m")
      if [ "$target" = "$m2rate" ]; then label="=$m2rate"; else label=$target; fi
      row "$size" "$label" vemo "$(stat -c %s "$clip.vem")" "$ours" "$t0" "$t1"
      if [ "$target" = "$rate" ]; then
        echo "$m2row"
        # mpeg2enc met the rate exactly: the first row is the equal-rate one.
        if [ "$m2rate" = "$rate" ]; then break; fi
      fi
    done
    read -r _ _ _ y _ <<< "$ours"
    read -r _ _ _ my _ <<< "$m2psnr"
    awk -v a="$y" -v b="$my" -v r="$m2rate" \
      'BEGIN { printf "%-9s %7s  Y-PSNR at mpeg2enc'"'"'s %s kbit/s: ours %+.2f dB\n", "", "", r, a - b }'
  done
done
