#!/usr/bin/env python3
"""Compares what reached the ALSA file device (a WAV file) with a track's
decoded PCM.

  compare_sound.py OUT.wav TRACK.pcm TOL CHANNELS BITS exact [GAIN]
  compare_sound.py OUT.wav TRACK.pcm TOL CHANNELS BITS mixed TRACK_RATE

exact: the device received the track's own format, or a mixer's float
samples at the track's own rate (no resampling); its samples must be the
track's times GAIN (the level the device was given), within TOL (+1) for
16-bit and TOL >> 8 rounded up (+1) for 8-bit (each 16-bit sample's high byte
plus 128), in order, with only runs of silence between them, and nothing but
silence after them.
mixed: the device mixed into its own format (float or integer, any rate and
channel count); the track, resampled, must fit whole, and the signal-to-error
ratio is printed.
Prints what it found; exit 0 when it matches.
"""
import math
import struct
import sys

def read_wav(path):
    data = open(path, "rb").read()
    if data[:4] != b"RIFF" or data[8:12] != b"WAVE":
        sys.exit(f"{path}: not a WAV file ({len(data)} bytes)")
    pos, fmt, body = 12, None, None
    while pos + 8 <= len(data):
        tag, size = data[pos:pos + 4], struct.unpack_from("<I", data, pos + 4)[0]
        chunk = data[pos + 8:pos + 8 + size]
        if tag == b"fmt ":
            fmt = struct.unpack_from("<HHIIHH", chunk)
        elif tag == b"data":
            body = data[pos + 8:]  # the writer may leave the size unset
            break
        pos += 8 + size + (size & 1)
    if fmt is None or body is None:
        sys.exit(f"{path}: no format or data chunk")
    return fmt, body


def expected_samples(pcm, bits):
    """The track as the device should receive it: a list of sample values."""
    samples = struct.unpack(f"<{len(pcm) // 2}h", pcm[:len(pcm) // 2 * 2])
    if bits == 16:
        return list(samples), 2, 0
    return [((s >> 8) + 128) & 0xFF for s in samples], 1, 0x80


def device_samples(fmt, body, bits):
    """The device's samples in the track's sample domain: as they are when
    the device took the track's own format, else (a mixer's float output at
    the same rate) scaled back to 16-bit or offset 8-bit values, rounded."""
    if fmt[5] == bits:
        code, width = ("<h", 2) if bits == 16 else ("<B", 1)
        return [v[0] for v in struct.iter_unpack(code, body[:len(body) // width * width])]
    floats = struct.unpack(f"<{len(body) // 4}f", body[:len(body) // 4 * 4])
    if not all(abs(f) < 64 for f in floats[:4096]):  # 32-bit integers, not floats
        floats = [v / 2147483648.0 for v in struct.unpack(f"<{len(floats)}i", body[:len(floats) * 4])]
    if bits == 16:
        return [round(f * 32768) for f in floats]
    return [round(f * 128) + 128 for f in floats]


def compare_exact(fmt, body, pcm, tol, channels, bits, gain):
    """The track at the device's gain, in order, with only runs of silence
    (the device waiting for data) between its samples."""
    if fmt[1] != channels or fmt[5] not in (bits, 32):
        print(f"device format {fmt[2]} Hz {fmt[1]} ch {fmt[5]} bit, track {channels} ch {bits} bit")
        return False
    want, width, silence = expected_samples(pcm, bits)
    got = device_samples(fmt, body, bits)
    limit = (tol if width == 2 else (tol + 255) >> 8) + 1
    want = [silence + (v - silence) * gain for v in want]
    j = k = 0
    gaps = []
    while k < len(want) and j < len(got):
        if abs(got[j] - want[k]) <= limit:
            j += 1
            k += 1
            continue
        run = j
        while j < len(got) and got[j] == silence:
            j += 1
        if j == run:
            print(f"track sample {k} differs: {got[j:j + 4]} arrived, "
                  f"{[round(v) for v in want[k:k + 4]]} expected")
            return False
        gaps.append((k, j - run))
    tail = got[j:]
    loud = sum(1 for v in tail if v != silence)
    print(f"{k} of {len(want)} track samples arrived in order at gain {gain:.5f} "
          f"(tolerance {limit}); silence runs inserted (at sample, length): {gaps}; "
          f"{len(tail)} samples follow, {loud} not silent")
    return k == len(want) and loud == 0


def device_frames(fmt, body):
    """The device's samples as floats, one list per channel."""
    tag, chans, bits = fmt[0], fmt[1], fmt[5]
    if bits == 32:
        values = struct.unpack(f"<{len(body) // 4}i", body[:len(body) // 4 * 4])
        floats = struct.unpack(f"<{len(body) // 4}f", body[:len(body) // 4 * 4])
        # Integer 32-bit words of audio stay far from the float bit
        # patterns' range; mixed output under wine is float.
        if tag == 3 or all(abs(f) < 64 for f in floats[:4096]):
            flat = list(floats)
        else:
            flat = [v / 2147483648.0 for v in values]
    elif bits == 16:
        flat = [v / 32768.0 for v in struct.unpack(f"<{len(body) // 2}h", body[:len(body) // 2 * 2])]
    else:
        flat = [(v - 128) / 128.0 for v in body]
    frames = len(flat) // chans
    return [flat[c:frames * chans:chans] for c in range(chans)]


def compare_mixed(fmt, body, pcm, channels, bits):
    rate = fmt[2]
    want, _, silence = expected_samples(pcm, bits)
    scale = 32768.0 if bits == 16 else 128.0
    track = [[(want[i] - silence) / scale for i in range(c, len(want), channels)]
             for c in range(channels)]
    got = device_frames(fmt, body)
    src_rate = int(sys.argv[7]) if len(sys.argv) > 7 else rate
    ratio = src_rate / rate
    n = int(len(track[0]) / ratio)
    # Channel c of the device carries track channel c (mono goes to both).
    def resampled(c):
        t = track[min(c, channels - 1)]
        out = []
        for i in range(n):
            x = i * ratio
            j = int(x)
            a = t[j] if j < len(t) else 0.0
            b = t[j + 1] if j + 1 < len(t) else 0.0
            out.append(a + (b - a) * (x - j))
        return out
    ref = [resampled(c) for c in range(len(got))]
    onset = next((i for i, v in enumerate(got[0]) if abs(v) > 1e-4), None)
    ref_onset = next((i for i, v in enumerate(ref[0]) if abs(v) > 1e-4), 0)
    if onset is None:
        print(f"nothing but silence arrived ({len(got[0])} frames at {rate} Hz)")
        return False
    best = None
    for shift in range(-48, 49):
        start = onset - ref_onset + shift
        if start < 0 or start + n > len(got[0]):
            continue
        err = sum((got[c][start + i] - ref[c][i]) ** 2 for c in range(len(got))
                  for i in range(0, n, 7))
        if best is None or err < best[0]:
            best = (err, start)
    if best is None:
        print(f"the track does not fit: {len(got[0])} frames arrived, {n} expected at {rate} Hz")
        return False
    start = best[1]
    sig = sum(ref[c][i] ** 2 for c in range(len(got)) for i in range(n))
    err = sum((got[c][start + i] - ref[c][i]) ** 2 for c in range(len(got)) for i in range(n))
    snr = 99.0 if err == 0 else 10 * math.log10(sig / err)
    after = [i for i in range(start + n, len(got[0])) if abs(got[0][i]) > 1e-4]
    tail = (after[-1] - (start + n) + 1) / rate if after else 0.0
    print(f"device {rate} Hz {fmt[1]} ch {fmt[5]} bit: track found after {start / rate:.3f} s of "
          f"silence, {n} frames, signal/error {snr:.1f} dB; sound continues {tail:.3f} s after it")
    # Resampled by the device's mixer, the track is not compared sample by
    # sample: it must arrive whole, and the loop's old sound must not be
    # played again after it (at most one loop of 0.6 s follows).
    return tail < 0.6


def main():
    out, pcm_path, tol_path, channels, bits, mode = sys.argv[1:7]
    fmt, body = read_wav(out)
    pcm = open(pcm_path, "rb").read()
    tol = int(open(tol_path).read().split()[0])
    if mode == "exact":
        gain = float(sys.argv[7]) if len(sys.argv) > 7 else 1.0
        ok = compare_exact(fmt, body, pcm, tol, int(channels), int(bits), gain)
    else:
        ok = compare_mixed(fmt, body, pcm, int(channels), int(bits))
    sys.exit(0 if ok else 1)


if __name__ == "__main__":
    main()
