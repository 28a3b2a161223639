#!/usr/bin/env bash
# Plays conformance movies through the Windows sound back ends under wine,
# with ALSA's default device writing into a WAV file, and compares what
# arrived with the decoded tracks (compare_sound.py).
# Then sound_device_check drives each back end through pause and resume,
# sound off and on and a volume and pan (compare_device.py).
#   run_sound_check.sh VEMO_DECODE_EXE WORK_DIR CONFORMANCE_DIR DEVICE_CHECK_EXE
set -euo pipefail
exe=$1 work=$2 conf=$3 check=$4
here=$(cd "$(dirname "$0")" && pwd)
for tool in wineserver python3; do
  command -v "$tool" >/dev/null || { echo "sound check: $tool missing"; exit 77; }
done
loader=wine
case "$(file -b "$exe")" in
  *x86-64*)
    export WINEARCH=win64
    loader=$(command -v wine64 || echo /usr/lib/wine/wine64) ;;
  *) export WINEARCH=win32 ;;
esac
command -v "$loader" >/dev/null || { echo "sound check: $loader missing"; exit 77; }
home="$work/sound-check-home"
rm -rf "$home"; mkdir -p "$home"
out="$home/OUT.wav"
cat >"$home/.asoundrc" <<EOF
pcm.!default { type file slave.pcm "null" file "$out" format "wav" }
EOF
export HOME="$home" WINEPREFIX="$work/wine-prefix-sound" WINEDEBUG=-all
trap 'wineserver -k 2>/dev/null || true' EXIT
[ -d "$WINEPREFIX" ] || "$loader" wineboot -i >/dev/null 2>&1 || true

# waveOut's full volume is the level word 0x7FFF of 0xFFFF on each channel.
gain=$(python3 -c "print(32767 / 65535)")
failed=0
# DirectSound mixes into the device's own format (48 kHz float here):
# played at 48 kHz (the movie's pace scaled, --sound-rate) nothing is
# resampled and the float samples are compared one by one. At the movie's
# own pace only the skips count: wine's resampler drops the track's first
# few frames and smears it, so the tolerant measure is only reported.
play() {  # BACK_END MOVIE TRACK_ID CHANNELS BITS RATE [SOUND_RATE]
  rm -f "$out"
  local summary pace=()
  [ -n "${7:-}" ] && pace=(--sound-rate "$7")
  summary=$(timeout 40 "$loader" "$exe" "$conf/$2.vem" --simulate --sound "$1" "${pace[@]}" --json)
  local skips
  skips=$(sed -n 's/.*"sound_skips": \([0-9]*\).*/\1/p' <<<"$summary")
  echo "$1 $2 ${7:-$6} Hz: sound skips $skips"
  [ "$skips" = 0 ] || failed=1
  [ -s "$out" ] || { echo "$1 $2: nothing reached the device"; failed=1; return; }
  local mode=(exact "$gain")
  [ "$1" = dsound ] && mode=(exact 1.0)
  [ "$1" = dsound ] && [ -z "${7:-}" ] && mode=(mixed "$6")
  python3 "$here/compare_sound.py" "$out" "$conf/$2.track$3.pcm" "$conf/$2.track$3.tol" \
    "$4" "$5" "${mode[@]}" || [ "${mode[0]}" = mixed ] || failed=1
}
# A stereo 16-bit track (8000 Hz) and a stereo track that plays 8-bit.
play waveout s08 3729428360 2 16 8000
play waveout big1 1292738049 2 8 22050
play dsound s08 3729428360 2 16 8000 48000
play dsound big1 1292738049 2 8 22050 48000
play dsound s08 3729428360 2 16 8000
# waveOut's off and on reopens the device: each opening writes a file of
# its own (OUT.wav, OUT.wav.0001, ...) of raw samples.
cat >"$home/.asoundrc" <<EOF
pcm.!default { type file slave.pcm "null" file "$out" format "raw" truncate false }
EOF
for back_end in waveout dsound; do
  rm -f "$out" "$out".*
  facts=$(timeout 40 "$loader" "$check" "$back_end" "Z:${out//\//\\}") || { failed=1; continue; }
  python3 "$here/compare_device.py" "$out" "$back_end" "$facts" || failed=1
done
exit "$failed"
