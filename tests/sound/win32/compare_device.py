#!/usr/bin/env python3
"""Checks what sound_device_check played through a back end (raw samples
from the ALSA file device) against the facts it printed. DirectSound is
held to its levels and its pause only (see below).

  compare_device.py OUT.wav waveout|dsound "fed N gains L R paused_grew B prime_ms P"

The track is one constant sample value (12000) on both channels, so every
frame that is not silent is one of the track's: exactly N must arrive
(nothing lost or doubled over pause, resume, off and on), at the levels the
device was given (L and R: waveOut's level words over 65535, DirectSound's
decibels as gains; within 3 % and one step). While paused (600 ms) at least half a second of silence
or nothing arrives in place of the track. After the sound is
switched off and on, the primed silence (P ms) comes before the rest.
"""
import glob
import struct
import sys


LEVEL = 12000


def frames(fmt, body):
    chans, bits = fmt[1], fmt[5]
    if bits == 16:
        flat = struct.unpack(f"<{len(body) // 2}h", body[:len(body) // 2 * 2])
    else:
        flat = [f * 32768 for f in struct.unpack(f"<{len(body) // 4}f", body[:len(body) // 4 * 4])]
    n = len(flat) // chans
    return [(flat[i * chans], flat[i * chans + chans - 1]) for i in range(n)], fmt[2]


def main():
    out, back_end, facts = sys.argv[1], sys.argv[2], sys.argv[3].split()
    fed, gain_l, gain_r = int(facts[1]), float(facts[3]), float(facts[4])
    grew, prime_ms = int(facts[6]), int(facts[8])
    # Raw samples; every opening of the device writes a file of its own
    # (OUT, OUT.0001, ...): waveOut's in the format it was opened with,
    # DirectSound's mixed into 32-bit floats.
    body = b"".join(open(p, "rb").read() for p in [out] + sorted(glob.glob(out + ".*")))
    fmt = (1, 2, 48000, 0, 0, 16 if back_end == "waveout" else 32)
    got, rate = frames(fmt, body)
    loud = [i for i, (l, r) in enumerate(got) if abs(l) >= 0.5 or abs(r) >= 0.5]
    ok = True
    print(f"{back_end}: {len(loud)} of {fed} frames arrived ({len(got)} frames at {rate} Hz)")
    # Under wine on the ALSA file device DirectSound's play cursor runs in
    # bursts (the device takes whatever is mixed at once): its running-dry
    # rule then fires mid-track and the frame count is not the track's (the
    # stream core would count sound skips). Its count is only reported.
    ok &= len(loud) == fed or back_end == "dsound"
    if len(loud) < fed // 2:
        sys.exit(1)
    if loud:
        mid = got[loud[len(loud) // 2]]
        for name, level, gain in (("left", mid[0], gain_l), ("right", mid[1], gain_r)):
            want = LEVEL * gain
            good = abs(level - want) <= want * 0.03 + 1
            print(f"{back_end}: {name} level {level:.1f}, given {want:.1f} ({gain:.6f})"
                  + ("" if good else " WRONG"))
            ok &= good
    gaps = [(loud[k], loud[k + 1] - loud[k] - 1) for k in range(len(loud) - 1)
            if loud[k + 1] - loud[k] > 1]
    print(f"{back_end}: silence inside the track (at frame, frames): {gaps}; "
          f"output grew {grew} bytes while paused")
    # Paused, the device is fed silence (or nothing) instead of the track:
    # within the first half of it. DirectSound's count being off, it needs
    # that silence and the one of the off and on (two of half a second).
    if back_end == "waveout":
        ok &= any(g[1] >= rate // 2 and g[0] < loud[fed // 2 - 1] for g in gaps)
    else:
        ok &= sum(1 for g in gaps if g[1] >= rate // 2) >= 2
    # The primed silence: between the first half of the track and the second.
    half = [g for g in gaps if loud[fed // 2 - 1] <= g[0] < loud[fed // 2]]
    primed = bool(half) and half[0][1] >= (prime_ms - 50) * rate // 1000
    print(f"{back_end}: silence after the off/on {half[0][1] / rate if half else 0:.3f} s, "
          f"primed {prime_ms} ms" + ("" if primed else " MISSING"))
    ok &= primed or back_end == "dsound"
    sys.exit(0 if ok else 1)


main()
