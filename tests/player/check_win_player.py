#!/usr/bin/env python3
"""Whole-program checks of vemoplay.exe under wine on a private X server:
playing to the end with the summary, the error
box (once as text, once as a real box found and closed with xdotool), keys
sent as window messages, /L2, a self-running movie made by vemo-bundle and
the screen-saver arguments.

usage: check_win_player.py VEMOPLAY.EXE VEMO-BUNDLE CONFORMANCE_DIR WINE_PREFIX
(WINEPREFIX in the environment wins over WINE_PREFIX; a VEMO-BUNDLE ending in
.exe runs under wine too.) Exits 77 (skipped) when wine, Xvfb or xdotool is missing or wine cannot
start the player at all."""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

player, bundler, conformance, prefix = sys.argv[1:5]
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
    # The sound reaches the back end as decoded: s06's track is 8-bit, so the
    # file holds the high bytes of the decoded samples, offset by 128.
    with tempfile.TemporaryDirectory() as tmp:
        wav = os.path.join(tmp, "track.wav")
        r = run([player, movie], dict(boxes_as_text, VEMO_SOUND_FILE=win(wav)))
        decoded = open(os.path.join(conformance, "s06.track0.pcm"), "rb").read()
        expected = bytes(((int.from_bytes(decoded[i:i + 2], "little", signed=True) >> 8) + 128)
                         & 255 for i in range(0, len(decoded), 2))
        played = open(wav, "rb").read()[44:] if os.path.exists(wav) else b""
        check("the sound file holds the decoded track", r.returncode == 0 and played == expected,
              f"{len(played)} bytes played, {len(expected)} expected")
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
