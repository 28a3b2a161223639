#!/usr/bin/env python3
"""Whole-program checks of vemoplay.exe under wine on a private X server:
playing to the end with the summary, the sound that reaches ALSA's file
device through DirectSound and waveOut, a screenshot of a paused frame
against its conversion, the error
box (once as text, once as a real box found and closed with xdotool), keys
sent as window messages, /L2, a self-running movie made by vemo-bundle and
the screen-saver arguments, with a preview drawn into a real parent window.

usage: check_win_player.py VEMOPLAY.EXE VEMO-BUNDLE CONFORMANCE_DIR WINE_PREFIX
                           VEMO-DECODE.EXE PREVIEW-PARENT.EXE
(WINEPREFIX in the environment wins over WINE_PREFIX; a VEMO-BUNDLE ending in
.exe runs under wine too.) Exits 77 (skipped) when wine, Xvfb or xdotool is missing or wine cannot
start the player at all."""
import json
import math
import os
import re
import struct
import shutil
import subprocess
import sys
import tempfile
import time

player, bundler, conformance, prefix, decoder, preview_parent = sys.argv[1:7]
prefix = os.environ.get("WINEPREFIX") or prefix
SKIP = 77
failures = []


def check(name, condition, detail=""):
    if not condition:
        failures.append(f"{name}: {detail}")


def wine_program():
    # A 64-bit player runs under the 64-bit loader.
    with open(player, "rb") as f:
        head = f.read(4096)
    pe = int.from_bytes(head[0x3C:0x40], "little")
    machine = int.from_bytes(head[pe + 4:pe + 6], "little")
    if machine == 0x8664 and os.path.exists("/usr/lib/wine/wine64"):
        return "/usr/lib/wine/wine64"
    return shutil.which("wine")


wine = wine_program()
for tool in (wine, shutil.which("Xvfb"), shutil.which("xdotool")):
    if not tool:
        print("wine, Xvfb or xdotool is missing: skipped")
        sys.exit(SKIP)


def free_display():
    for n in range(90, 200):
        if not os.path.exists(f"/tmp/.X11-unix/X{n}") and not os.path.exists(f"/tmp/.X{n}-lock"):
            return f":{n}"
    return None


display = free_display()
xvfb = subprocess.Popen(["Xvfb", display, "-screen", "0", "800x600x24", "-nolisten", "tcp"],
                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
# Wait for the server's socket (a loaded machine can take seconds).
for _ in range(200):
    if os.path.exists(f"/tmp/.X11-unix/X{display[1:]}"):
        break
    time.sleep(0.05)
time.sleep(0.5)
env = dict(os.environ, DISPLAY=display, WINEPREFIX=prefix, WINEDEBUG="-all",
           WINEDLLOVERRIDES="mscoree,mshtml=")
if "wine64" not in wine:
    env["WINEARCH"] = "win32"
boxes_as_text = dict(env, VEMO_MESSAGE_BOXES="0")


def win(path):
    """A file name as the player reads it: a Windows path (a "/" starts a switch)."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def run(args, environment=boxes_as_text, timeout=60):
    return subprocess.run([wine] + args, env=environment, capture_output=True, text=True,
                          timeout=timeout)


def start(args, environment=boxes_as_text):
    return subprocess.Popen([wine] + args, env=environment, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, text=True)


def window_ids(name, timeout=20):
    deadline = time.time() + timeout
    while time.time() < deadline:
        r = subprocess.run(["xdotool", "search", "--name", name], env=env, capture_output=True,
                           text=True)
        if r.stdout.split():
            return r.stdout.split()
        time.sleep(0.2)
    return []


def title_of(window):
    r = subprocess.run(["xdotool", "getwindowname", window], env=env, capture_output=True,
                       text=True)
    return r.stdout.strip()


def paused_frame(window):
    """The frame the title names as paused at (it may take a moment to show)."""
    for _ in range(15):
        m = re.search(r"paused at frame (\d+)", title_of(window))
        if m:
            return m
        time.sleep(0.2)
    return None


def key(window, name):
    subprocess.run(["xdotool", "windowactivate", "--sync", window], env=env,
                   capture_output=True, timeout=10)
    subprocess.run(["xdotool", "key", "--window", window, name], env=env, capture_output=True)
    time.sleep(0.4)


def frames_played(text):
    m = re.search(r"Total frames played: (\d+)", text)
    return int(m.group(1)) if m else -1


def screen_shot():
    """The whole screen from xwd as a function (x, y) -> (r, g, b) and the
    dump's bits per pixel: the dump may hold 24-bit or 32-bit pixels, and only
    its header says which."""
    dump = subprocess.run(["xwd", "-root", "-silent"], env=env, capture_output=True).stdout
    h = struct.unpack(">25I", dump[:100])
    order, bits, row_bytes = h[7], h[11], h[12]
    data, size = dump[h[0] + 12 * h[19]:], h[11] // 8
    masks = h[14:17]
    shifts = [(m & -m).bit_length() - 1 for m in masks]

    def at(x, y):
        i = y * row_bytes + x * size
        v = int.from_bytes(data[i:i + size], "little" if order == 0 else "big")
        return tuple((v & m) >> sh for m, sh in zip(masks, shifts))
    return at, bits


def wav_body(path):
    """(format fields, sample bytes) of a WAV file the ALSA file device wrote
    (it may leave the data size unset)."""
    data = open(path, "rb").read() if os.path.exists(path) else b""
    pos, fmt = 12, None
    while data[:4] == b"RIFF" and pos + 8 <= len(data):
        tag, size = data[pos:pos + 4], struct.unpack_from("<I", data, pos + 4)[0]
        if tag == b"fmt ":
            fmt = struct.unpack_from("<HHIIHH", data, pos + 8)
        elif tag == b"data":
            return fmt, data[pos + 8:]
        pos += 8 + size + (size & 1)
    return None, b""


# The device may lose up to this much of the track's end (the back ends'
# tail); everything before it must arrive.
TAIL_SECONDS = 0.25


def track_as_played(name):
    """s06's track plays 8-bit mono at 8000 Hz: each decoded sample's high
    byte, as a signed value."""
    pcm = open(os.path.join(conformance, name + ".track0.pcm"), "rb").read()
    return [v >> 8 for v in struct.unpack(f"<{len(pcm) // 2}h", pcm[:len(pcm) // 2 * 2])]


def compare_wave_out(fmt, body, track):
    """waveOut passes the track's own format: unsigned 8-bit at the level
    0x7FFF of 0xFFFF, in order, with only silence between the samples."""
    if not fmt or fmt[1:3] != (1, 8000) or fmt[5] != 8:
        return f"device format {fmt}"
    gain = 32767 / 65535
    got, k, j = body, 0, 0
    while k < len(track) and j < len(got):
        if abs(got[j] - (128 + track[k] * gain)) <= 2:
            j, k = j + 1, k + 1
        elif got[j] == 128:
            j += 1
        else:
            return f"track sample {k}: {got[j]} arrived, {128 + track[k] * gain:.1f} expected"
    if len(track) - k > TAIL_SECONDS * 8000:
        return f"only {k} of {len(track)} samples arrived"
    return None


def compare_direct_sound(fmt, body, track):
    """DirectSound mixes into the device's format (float or 16-bit at its own
    rate) through wine's resampler, which reshapes a track this close to its
    Nyquist rate too much for a sample comparison: after the leading silence
    the sound must last the track's length (less the tail allowance) and
    carry its level (RMS within a factor of 1.5)."""
    if not fmt or fmt[5] not in (16, 32):
        return f"device format {fmt}"
    rate, channels = fmt[2], fmt[1]
    if fmt[5] == 32:
        flat = struct.unpack(f"<{len(body) // 4}f", body[:len(body) // 4 * 4])
    else:
        flat = [v / 32768 for v in struct.unpack(f"<{len(body) // 2}h", body[:len(body) // 2 * 2])]
    got = flat[0::channels]
    onset = next((i for i, v in enumerate(got) if abs(v) > 1e-3), None)
    if onset is None:
        return f"nothing but silence ({len(got)} frames at {rate} Hz)"
    length = len(track) * rate // 8000
    end = next((i for i in range(min(len(got), onset + length + rate // 2) - 1, onset, -1)
                if abs(got[i]) > 1e-3), onset)
    if end - onset < length - TAIL_SECONDS * rate:
        return f"{(end - onset) / rate:.3f} s of sound arrived, {length / rate:.3f} s expected"
    seg = got[onset:onset + length]
    level = math.sqrt(sum(v * v for v in seg) / len(seg))
    want = math.sqrt(sum((v / 128) ** 2 for v in track) / len(track))
    if not want / 1.5 <= level <= want * 1.5:
        return f"level {level:.3f}, the track's {want:.3f}"
    return None


def check_sound_reaches_alsa(name, switches, compare, label):
    """Plays the movie with ALSA's default device writing a WAV file."""
    with tempfile.TemporaryDirectory() as home:
        out = os.path.join(home, "OUT.wav")
        with open(os.path.join(home, ".asoundrc"), "w") as f:
            f.write(f'pcm.!default {{ type file slave.pcm "null" file "{out}" format "wav" }}\n')
        r = run([player] + switches + [win(os.path.join(conformance, name + ".vem"))],
                dict(boxes_as_text, HOME=home))
        fmt, body = wav_body(out)
        fault = compare(fmt, body, track_as_played(name))
        check(f"the ALSA file holds the decoded track ({label})", r.returncode == 0 and not fault,
              f"exit {r.returncode}: {fault}")


def converted_frame(movie_path, frame, width, height):
    """Frame N converted by vemo-decode into 32-bit pixels (bytes B, G, R, 0)."""
    with tempfile.TemporaryDirectory() as tmp:
        out = os.path.join(tmp, "frame.raw")
        args = [movie_path, "--surface", "3", "--frame", str(frame), "-o", out]
        if decoder.endswith(".exe"):
            args = [wine, decoder, win(movie_path), "--surface", "3", "--frame", str(frame), "-o",
                    win(out)]
        else:
            args = [decoder] + args
        subprocess.run(args, env=env, capture_output=True, timeout=60)
        raw = open(out, "rb").read() if os.path.exists(out) else b""
    if len(raw) != width * height * 4:
        return None
    return [[(raw[i + 2], raw[i + 1], raw[i]) for i in range((y * width) * 4, (y + 1) * width * 4, 4)]
            for y in range(height)]


def client_origin(window):
    """Where wine's X window for the client area sits on the screen."""
    r = subprocess.run(["xdotool", "getwindowgeometry", window], env=env, capture_output=True,
                       text=True)
    m = re.search(r"Position: (-?\d+),(-?\d+)", r.stdout)
    return (int(m.group(1)), int(m.group(2))) if m else None


def playing_window(timeout=30):
    """The player's window once it shows a movie (its title names the time)."""
    wins = window_ids("^Vemo Video Player - ", timeout)
    return wins[0] if wins else None


def check_paused_frame_on_screen(name, switches, moved=False):
    """Plays the movie slowly, pauses it with Space and compares the client
    area with the frame the title names, converted by vemo-decode."""
    path = os.path.join(conformance, name + ".vem")
    info = json.load(open(os.path.join(conformance, name + ".json")))
    width, height = info["width"], info["height"]
    p = start([player, "/F2", "/L0", "/J"] + switches + [win(path)])
    what = f"screenshot of {name} {' '.join(switches)}"
    try:
        w = playing_window()
        check(what, w, "no playing window")
        if not w:
            return
        time.sleep(1.5)
        key(w, "space")
        paused = paused_frame(w)
        check(what, paused, title_of(w))
        if not paused:
            return
        time.sleep(0.5)
        origin = client_origin(w)
        at, bits = screen_shot()
        want = converted_frame(path, max(1, int(paused.group(1))), width, height)
        check(what, want and origin, "no conversion or no window position")
        if not (want and origin):
            return
        x0, y0 = origin
        differing = sum(1 for y in range(height) for x in range(width)
                        if at(x0 + x, y0 + y) != want[y][x])
        check(what, differing == 0,
              f"{differing} of {width * height} pixels differ at {origin} ({bits}-bit dump)")
        if moved:
            # Still paused: the window moves and repaints; the picture must
            # follow without a new frame.
            subprocess.run(["xdotool", "windowmove", "--sync", w, "120", "90"], env=env,
                           capture_output=True, timeout=20)
            time.sleep(1.0)
            origin = client_origin(w)
            at, bits = screen_shot()
            x0, y0 = origin
            differing = sum(1 for y in range(height) for x in range(width)
                            if at(x0 + x, y0 + y) != want[y][x])
            check(what + " moved while paused", differing == 0,
                  f"{differing} of {width * height} pixels differ at {origin}")
        key(w, "Escape")
    finally:
        try:
            p.wait(timeout=20)
        except subprocess.TimeoutExpired:
            p.kill()


def check_preview_in_parent(saver):
    """/p with a real window's handle: the saver's window becomes that window's
    child filling its client area, stays silent, and ends when the parent
    closes. (Wine 8 gives a child of another process's window no X window of
    its own, so what it draws cannot be seen on the screen; the preview's
    picture is checked through the parent's report of its child instead.)"""
    with tempfile.TemporaryDirectory() as home:
        out = os.path.join(home, "OUT.wav")
        with open(os.path.join(home, ".asoundrc"), "w") as f:
            f.write(f'pcm.!default {{ type file slave.pcm "null" file "{out}" format "wav" }}\n')
        quiet = dict(boxes_as_text, HOME=home)
        parent = start([preview_parent, "10000"], quiet)
        handle = parent.stdout.readline().strip()
        check("preview parent", handle.isdigit(), handle)
        p = start([saver, "/p", handle], quiet) if handle.isdigit() else None
        try:
            report, _ = parent.communicate(timeout=40)
        except subprocess.TimeoutExpired:
            parent.kill()
            report = ""
        children = re.findall(r"^child (\S+) (-?\d+) (-?\d+) (\d+) (\d+)$", report, re.M)
        check("the preview is a child filling its parent",
              children == [("VemoWin", "0", "0", "152", "112")], report)
        if p:
            try:
                so, _ = p.communicate(timeout=20)
                check("the preview ends with its parent", p.returncode == 0,
                      f"{p.returncode} {so}")
            except subprocess.TimeoutExpired:
                p.kill()
                check("the preview ends with its parent", False, "still running")
        _, body = wav_body(out)
        check("the preview is silent", not any(b not in (0, 128) for b in body),
              f"{len(body)} bytes of sound")

try:
    if not os.path.isdir(prefix):
        subprocess.run([wine, "wineboot", "-i"], env=env, capture_output=True, timeout=300)
    movie = win(os.path.join(conformance, "s06.vem"))
    r = run([player, "/S", movie])
    if r.returncode != 0 and not r.stdout:
        print("wine cannot start the player:", r.stderr[-400:])
        sys.exit(SKIP)
    check("/S plays to the end", r.returncode == 0 and frames_played(r.stdout) == 8,
          r.stdout + r.stderr)
    check("summary box text", "Vemo Playback Summary: Video: 33 x 17" in r.stdout, r.stdout)
    r = run([player, "/S", "/Z", movie])
    check("/S /Z", r.returncode == 0 and frames_played(r.stdout) == 8, r.stdout + r.stderr)
    # What reaches ALSA through DirectSound (the default) and waveOut.
    check_sound_reaches_alsa("s06", ["/S"], compare_direct_sound, "DirectSound")
    check_sound_reaches_alsa("s06", ["/S", "/Z"], compare_wave_out, "waveOut")
    # The picture on the screen: the primary surface (automatic) and the
    # DIB section, on a movie with alpha too.
    check_paused_frame_on_screen("s06", [], moved=True)
    check_paused_frame_on_screen("s06", ["/B2"], moved=True)
    check_paused_frame_on_screen("s12", ["/B2"])
    r = run([player, "/S", "/L2", movie])
    check("/L2 plays twice", r.returncode == 0 and frames_played(r.stdout) == 16, r.stdout)

    # Errors: a bad file and a bad switch end with the error box and 1.
    with tempfile.TemporaryDirectory() as tmp:
        bad = os.path.join(tmp, "bad.vem")
        with open(bad, "wb") as f:
            f.write(b"not a movie at all" * 20)
        r = run([player, win(bad)])
        check("bad file", r.returncode == 1 and "Vemo Error: Not a Vemo file." in r.stdout,
              r.stdout + r.stderr)
        r = run([player, "/S", "/V", movie])
        check("bad switch", r.returncode == 1 and "Vemo Video Player Help:" in r.stdout,
              r.stdout)
        # A real box: found by its title and closed with Enter.
        p = start([player, win(os.path.join(tmp, "missing.vem"))], env)
        boxes = window_ids("^Vemo Error$")
        check("a real error box", boxes, "no window named Vemo Error")
        for b in boxes[:1]:
            key(b, "Return")
        try:
            p.wait(timeout=20)
        except subprocess.TimeoutExpired:
            p.kill()
        check("the box's exit code", p.returncode == 1, str(p.returncode))

        # A self-running movie with its options inside; the saver arguments.
        bundle = os.path.join(tmp, "selfplay.exe")
        source, options = os.path.join(conformance, "s06.vem"), "/S /L2"
        bundling = [bundler, source, "-o", bundle, "--options", options, "--player", player]
        if bundler.endswith(".exe"):
            bundling = [wine, bundler, win(source), "-o", win(bundle), "--options", options,
                        "--player", win(player)]
        b = subprocess.run(bundling, env=env, capture_output=True, text=True)
        check("vemo-bundle", b.returncode == 0, b.stderr)
        if b.returncode == 0:
            r = run([bundle])
            check("self-running movie", r.returncode == 0 and frames_played(r.stdout) == 16,
                  r.stdout + r.stderr)
        saver = os.path.join(tmp, "movie.scr")
        shutil.copy(bundle if b.returncode == 0 else player, saver)
        r = run([saver, "/c"])
        check("saver /c", r.returncode == 0 and
              "There are no settings for this screensaver." in r.stdout, r.stdout)
        r = run([saver, "/p"])
        check("saver /p without a number", r.returncode == 0 and r.stdout == "", r.stdout)
        check_preview_in_parent(saver)
        # /s full screen, and /p with a handle too small to be a parent (its
        # own window, silent, after the start delay): both end on a key.
        for argument in (["/s"], ["/p", "5"]):
            p = start([saver] + argument)
            wins = window_ids("^Vemo Video Player")
            check(f"saver {argument} window", wins, "no saver window")
            for w in wins[:1]:
                time.sleep(1)
                key(w, "a")
            try:
                p.wait(timeout=20)
                check(f"saver {argument} ends on a key", p.returncode == 0, str(p.returncode))
            except subprocess.TimeoutExpired:
                p.kill()
                check(f"saver {argument} ends on a key", False, "still running")

    # Keys: Space pauses (the title names the frame), Enter steps one frame,
    # "." goes to the next movie, Escape ends.
    p = start([player, "/S", "/F2", "/L0", movie, win(os.path.join(conformance, "s11.vem"))])
    wins = window_ids("^Vemo Video Player")
    check("player window", wins, "no player window")
    if wins:
        w = wins[0]
        time.sleep(1.2)
        key(w, "space")
        paused = paused_frame(w)
        key(w, "Return")
        time.sleep(0.6)
        stepped = paused_frame(w)
        check("Space pauses", paused, title_of(w))

        if paused and stepped:
            check("Enter steps one frame", int(stepped.group(1)) == int(paused.group(1)) % 8 + 1,
                  f"{paused.group(0)} then {stepped.group(0)}")
        key(w, "space")
        key(w, "period")
        time.sleep(0.5)
        key(w, "Escape")
    try:
        out, err = p.communicate(timeout=30)
        check("Escape ends with 0", p.returncode == 0, out + err)
        check('"." went on to the next movie', "Total frames: 7" in out, out)
    except subprocess.TimeoutExpired:
        p.kill()
        check("Escape ends", False, "still running")
finally:
    xvfb.terminate()
    subprocess.run(["wineserver", "-k"], env=env, capture_output=True)

if failures:
    print("\n".join(failures))
    sys.exit(1)
print("all Windows player checks passed")
