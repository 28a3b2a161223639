#!/usr/bin/env bash
# Side-by-side speed check on real content, in one run on this machine:
#  - video decode: vemo-decode --planes against mpeg2dec -o null (MPEG-2
#    made by mpeg2enc without B-frames at the same bit rate), CPU time,
#    single thread, on 640x480 and 1280x720 clips panned and zoomed over
#    photographs with hard cuts. Each program also decodes a movie of the
#    clip's first picture alone, and the decode speed is taken from the
#    difference: frames after the first over the CPU time they added. That
#    leaves out what a run costs before decoding starts (loading the program
#    and its libraries, setting up buffers), which differs a lot between the
#    two programs and says nothing about the decoders. Whole-run figures are
#    printed beside it;
#  - conversion: format 3 against I420ToARGB and format 13 against
#    I420ToYUY2 (bench_pixels, 1280x720);
#  - audio: 48 kHz stereo DCT decode speed as a multiple of real time.
# Needs `scripts/install-deps.sh --bench`. Usage:
#   bench/compare.sh [--baseline OLD_VEMO_DECODE] [--frames N] [--rounds N]
# --baseline also times another vemo-decode build on the same clips.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${VEMO_BENCH_BUILD:-$root/build/bench}
frames=90
rounds=10
baseline=""
while [ $# -gt 0 ]; do
  case "$1" in
    --baseline) baseline=$(realpath "$2"); shift 2 ;;
    --frames) frames=$2; shift 2 ;;
    --rounds) rounds=$2; shift 2 ;;
    *) echo "usage: $0 [--baseline VEMO_DECODE] [--frames N] [--rounds N]" >&2; exit 2 ;;
  esac
done

[ "$frames" -ge 2 ] || { echo "--frames: at least 2 (the speed is taken from the frames after the first)" >&2; exit 2; }

. "$root/bench/photos.sh"
need_tools mpeg2enc mpeg2dec djpeg python3
build_bench -- vemo-decode vemo-encode vemo-bench-clip bench_pixels bench_audio

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
photo_ppms "$work"

fps=30
jobs=()
for size in 640x480 1280x720; do
  w=${size%x*} h=${size#*x}
  clip=$work/clip-$size
  "$build/bench/vemo-bench-clip" "$w" "$h" "$frames" "$fps" "$clip.y4m" "${ppms[@]}"
  "$build/tools/vemo-encode/vemo-encode" "$clip.y4m" -o "$clip.vem" --quality 50 --quiet
  kbps=$(( $(stat -c %s "$clip.vem") * 8 * fps / frames / 1000 ))
  # mpeg2enc takes multiples of 400 kbit/s; 1280x720 is past MPEG-2's main
  # level, hence no level constraints.
  m2target=$(( (kbps + 200) / 400 * 400 ))
  [ "$m2target" -ge 400 ] || m2target=400
  mpeg2enc -v 0 -f 3 --no-constraints -a 1 -R 0 -F 5 -b "$m2target" -o "$clip.m2v" < "$clip.y4m"
  m2kbps=$(( $(stat -c %s "$clip.m2v") * 8 * fps / frames / 1000 ))
  echo "$size: $frames frames, vemo $kbps kbit/s, mpeg2 $m2kbps kbit/s"
  # The first picture alone, made the same way (the stream header line, one
  # picture header and its samples).
  head -c $(( $(head -n 1 "$clip.y4m" | wc -c) + 6 + w * h * 3 / 2 )) "$clip.y4m" > "$clip-one.y4m"
  "$build/tools/vemo-encode/vemo-encode" "$clip-one.y4m" -o "$clip-one.vem" --quality 50 --quiet
  mpeg2enc -v 0 -f 3 --no-constraints -a 1 -R 0 -F 5 -b "$m2target" -o "$clip-one.m2v" < "$clip-one.y4m"
  jobs+=("$size|$clip.vem|$clip.m2v|$clip-one.vem|$clip-one.m2v")
done

machine_line "$build/tools/vemo-decode/vemo-decode"

python3 - "$rounds" "$frames" "$build" "$baseline" "${jobs[@]}" <<'EOF'
import json, os, subprocess, sys

rounds, frames, build, baseline = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3], sys.argv[4]
jobs = [j.split("|") for j in sys.argv[5:]]
decode = os.path.join(build, "tools", "vemo-decode", "vemo-decode")

def cpu(cmd):
    """CPU seconds (user + system) of one run of cmd."""
    null = subprocess.DEVNULL
    proc = subprocess.Popen(cmd, stdout=null, stderr=null)
    _, status, usage = os.wait4(proc.pid, 0)
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f"failed: {' '.join(cmd)}")
    return usage.ru_utime + usage.ru_stime

print("\nVideo decode, single thread, CPU time (best of %d)" % rounds)
print("fps: frames after the first over the CPU time they add to a run of the first alone;")
print("whole: all frames over a whole run's CPU time, loading the program included")
head = f"{'clip':>9} {'mpeg2dec fps':>13} {'vemo fps':>9} {'ratio':>6} {'whole ratio':>12}"
if baseline:
    head += f" {'before fps':>11} {'speed-up':>9}"
print(head)
for size, vem, m2v, vem1, m2v1 in jobs:
    cmds = {"mpeg2": ["mpeg2dec", "-o", "null", m2v],
            "mpeg2 one": ["mpeg2dec", "-o", "null", m2v1],
            "vemo": [decode, vem, "--planes", "/dev/null"],
            "vemo one": [decode, vem1, "--planes", "/dev/null"]}
    if baseline:
        cmds["before"] = [baseline, vem, "--planes", "/dev/null"]
        cmds["before one"] = [baseline, vem1, "--planes", "/dev/null"]
    best = {k: float("inf") for k in cmds}
    for _ in range(rounds):  # interleaved so that load changes hit all alike
        for k, c in cmds.items():
            best[k] = min(best[k], cpu(c))
    added = {k: best[k] - best[k + " one"] for k in cmds if not k.endswith(" one")}
    if min(added.values()) <= 0:
        sys.exit(f"{size}: a whole run took no longer than its first picture alone; "
                 "the machine is too busy to measure (try more --rounds)")
    fps = {k: (frames - 1) / v for k, v in added.items()}
    whole = best["mpeg2"] / best["vemo"]
    line = (f"{size:>9} {fps['mpeg2']:>13.1f} {fps['vemo']:>9.1f} "
            f"{fps['vemo'] / fps['mpeg2']:>5.2f}x {whole:>11.2f}x")
    if baseline:
        line += f" {fps['before']:>11.1f} {fps['vemo'] / fps['before']:>8.2f}x"
    print(line)
    print(f"{'':>9} one picture alone: mpeg2dec {best['mpeg2 one'] * 1e3:.1f} ms, "
          f"vemo-decode {best['vemo one'] * 1e3:.1f} ms")

def bench(program, pattern, reps=5):
    """Every repetition of each benchmark, by name, run interleaved in random
    order. The best of them is taken: other load only ever slows a run down."""
    out = subprocess.run([os.path.join(build, "bench", program), "--benchmark_format=json",
                          "--benchmark_filter=" + pattern, f"--benchmark_repetitions={reps}",
                          "--benchmark_enable_random_interleaving=true"],
                         check=True, capture_output=True, text=True).stdout
    runs = {}
    for b in json.loads(out)["benchmarks"]:
        if b.get("run_type") == "iteration":
            runs.setdefault(b["run_name"], []).append(b)
    return runs

pix = bench("bench_pixels", r"^BM_Packed/(3|13)$|^BM_Libyuv(I420ToARGB|I420ToYUY2)$")
print("\nConversion, 1280x720 (CPU time, best of 5; ratio above 1 = ours faster)")
for ours, theirs in (("BM_Packed/3", "BM_LibyuvI420ToARGB"), ("BM_Packed/13", "BM_LibyuvI420ToYUY2")):
    if ours in pix and theirs in pix:
        a = min(r["cpu_time"] for r in pix[ours])
        b = min(r["cpu_time"] for r in pix[theirs])
        print(f"  format {ours.split('/')[1]:>2} {a:8.1f} us   {theirs[9:]:>11} {b:8.1f} us   {b / a:5.2f}x")
    else:
        print(f"  {ours} against {theirs}: not measured (libyuv missing?)")

audio = bench("bench_audio", r"^BM_Decode48kStereoDct$")
rt = max(r["realtime"] for r in audio["BM_Decode48kStereoDct"])
print(f"\nAudio: 48 kHz stereo DCT decodes at {rt:.0f}x real time (best of 5)")
EOF
