#!/usr/bin/env python3
"""Plays every conformance movie with sound through `vemo-decode --simulate
--sound file:OUT.wav --json` and checks the summary keys, that no sound skip
happened, and that each track's WAV holds the decoded track's PCM (within the
track's tolerance), apart from silence inserted by sound switching."""
import json
import os
import struct
import subprocess
import sys
import tempfile

KEYS = ["width", "height", "total_playback_time", "header_rate_num", "header_rate_den", "played_rate_num",
        "played_rate_den", "open_time", "frames", "frames_played", "skipped_frames", "skipped_blits",
        "sound_skips", "blit_time", "frame_read_time", "video_time", "audio_time", "idle_service_time",
        "busy_service_time", "device_speed", "slowest_frame_time", "second_slowest_frame_time", "slowest_frame",
        "second_slowest_frame", "average_data_rate", "average_frame_size", "total_memory",
        "total_input_memory", "highest_input_memory", "peak_data_rate", "peak_frame"]


def wav_samples(path):
    data = open(path, "rb").read()
    if data[:4] != b"RIFF" or data[8:12] != b"WAVE":
        raise ValueError(path + ": not a WAV file")
    at, bits, pcm = 12, None, None
    while at + 8 <= len(data):
        kind, size = data[at:at + 4], struct.unpack("<I", data[at + 4:at + 8])[0]
        body = data[at + 8:at + 8 + size]
        if kind == b"fmt ":
            bits = struct.unpack("<H", body[14:16])[0]
        elif kind == b"data":
            pcm = body
        at += 8 + size + (size & 1)
    if bits == 16:
        return 16, list(struct.unpack("<%dh" % (len(pcm) // 2), pcm[:len(pcm) // 2 * 2]))
    return 8, list(pcm)


def matches(got, want, tol, bits):
    """Greedy walk: equal samples advance both; a zero in `got` that does not
    match is inserted silence."""
    silence = 0 if bits == 16 else 128
    if bits == 8:
        want = [((w >> 8) + 128) & 0xFF for w in want]
        tol = 1 + (tol >> 8)
    i = j = 0
    while j < len(want):
        if i >= len(got):
            return "the WAV ends %d samples early" % (len(want) - j)
        if abs(got[i] - want[j]) <= tol:
            i += 1
            j += 1
        elif got[i] == silence:
            i += 1
        else:
            return "sample %d is %d, expected %d" % (j, got[i], want[j])
    if any(g != silence for g in got[i:]):
        return "sound after the end of the track"
    return None


def main():
    tool, conformance = sys.argv[1], sys.argv[2]
    failures = checked = 0
    out_dir = tempfile.mkdtemp(prefix="vemo_simulate_")
    for name in sorted(f[:-4] for f in os.listdir(conformance) if f.endswith(".vem")):
        meta = json.load(open(os.path.join(conformance, name + ".json")))
        tracks = [t for t in meta["tracks"] if os.path.exists(
            os.path.join(conformance, "%s.track%d.pcm" % (name, t["id"])))]
        if not tracks:
            continue
        wav = os.path.join(out_dir, name + ".wav")
        run = subprocess.run([tool, os.path.join(conformance, name + ".vem"), "--simulate", "--json",
                              "--sound", "file:" + wav], capture_output=True, text=True, timeout=120)
        if run.returncode != 0:
            print("%s: vemo-decode failed: %s" % (name, run.stderr.strip()))
            failures += 1
            continue
        summary = json.loads(run.stdout)
        if list(summary.keys()) != KEYS:
            print("%s: summary keys differ: %s" % (name, list(summary.keys())))
            failures += 1
        if summary["sound_skips"] != 0 or summary["frames_played"] != meta["frames"]:
            print("%s: %d sound skips, %d frames played" % (name, summary["sound_skips"], summary["frames_played"]))
            failures += 1
        # Tracks open in table order; the n-th writes NAME.n.wav from n = 2 on.
        played = [t for t in meta["tracks"] if t["format"] >> 28 & 0x9]
        for n, track in enumerate(played, 1):
            pcm_path = os.path.join(conformance, "%s.track%d.pcm" % (name, track["id"]))
            if not os.path.exists(pcm_path):
                continue
            raw = open(pcm_path, "rb").read()
            want = list(struct.unpack("<%dh" % (len(raw) // 2), raw))
            tol = int(open(pcm_path[:-4] + ".tol").read().split()[0])
            path = wav if n == 1 else wav[:-4] + ".%d.wav" % n
            bits, got = wav_samples(path)
            problem = matches(got, want, tol, bits)
            checked += 1
            if problem:
                print("%s track %d: %s" % (name, track["id"], problem))
                failures += 1
    print("%d tracks checked, %d failures" % (checked, failures))
    return 1 if failures or not checked else 0


if __name__ == "__main__":
    sys.exit(main())
