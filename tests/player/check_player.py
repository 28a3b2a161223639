#!/usr/bin/env python3
"""Whole-program checks of vemoplay: screen-saver names and switches, a
self-running movie made by vemo-bundle, /L0 looping, and (when xvfb-run is
there) a real window on an X server."""
import os
import shutil
import subprocess
import sys
import tempfile

player, bundler, conformance = sys.argv[1], sys.argv[2], sys.argv[3]
failures = []
here = os.path.dirname(os.path.abspath(__file__))


def run(args, env_extra=None, timeout=60):
    env = dict(os.environ)
    env.update({"SDL_VIDEODRIVER": "offscreen", "SDL_AUDIODRIVER": "dummy",
                "VEMO_MESSAGE_BOXES": "0"})
    env.update(env_extra or {})
    return subprocess.run(args, env=env, capture_output=True, text=True, timeout=timeout)


def check(name, condition, detail=""):
    if not condition:
        failures.append(f"{name}: {detail}")


movie = os.path.join(conformance, "s06.vem")
with tempfile.TemporaryDirectory() as tmp:
    # A copy named as a saver: /c shows the no-settings box and ends with 0.
    saver = os.path.join(tmp, "movie.SCR")
    shutil.copy(player, saver)
    r = run([saver, "/c"])
    check("saver /c", r.returncode == 0 and
          "There are no settings for this screensaver." in r.stderr, r.stderr)
    r = run([saver, "/p"])
    check("saver /p without a number", r.returncode == 0 and r.stderr.strip() == "", r.stderr)
    # A link named as a saver is one: the name the program was started by counts.
    link = os.path.join(tmp, "x.scr")
    os.symlink(player, link)
    r = run([link, "/c"])
    check("saver link /c", r.returncode == 0 and
          "There are no settings for this screensaver." in r.stderr, r.stderr)
    # A name with more after .scr is no saver: it wants a movie.
    not_saver = os.path.join(tmp, "movie.scr.exe")
    shutil.copy(player, not_saver)
    r = run([not_saver, "/c"])
    check("movie.scr.exe is a player", r.returncode == 1 and "Help" in r.stderr, r.stderr)

    # A self-running movie: the player, the movie appended, the options inside.
    bundle = os.path.join(tmp, "selfplay")
    r = subprocess.run([bundler, movie, "-o", bundle, "--options", "/S", "--player", player],
                       capture_output=True, text=True)
    check("vemo-bundle", r.returncode == 0, r.stderr)
    if r.returncode == 0:
        r = run([bundle])
        check("self-running movie", r.returncode == 0 and "Total frames played: 8" in r.stdout,
              r.stdout + r.stderr)
    r = subprocess.run([bundler, movie, "-o", os.path.join(tmp, "x"), "--player", movie],
                       capture_output=True, text=True)
    check("vemo-bundle refuses a non-player", r.returncode != 0 and "option string" in r.stderr,
          r.stderr)

    # /L0 loops without the closing image until the time limit.
    try:
        run([player, "/L0", movie], timeout=3)
        check("/L0 loops", False, "the player ended by itself")
    except subprocess.TimeoutExpired:
        pass

    # A real window under an X server.
    if shutil.which("xvfb-run"):
        r = run(["xvfb-run", "-a", player, "/S", "/Q", movie],
                {"SDL_VIDEODRIVER": "x11",
                 "LSAN_OPTIONS": "suppressions=" + os.path.join(here, "lsan.supp")},
                timeout=120)
        check("under Xvfb", r.returncode == 0 and "Total frames played: 8" in r.stdout,
              r.stdout + r.stderr)
        # /# draws into the given window (here the root window).
        script = ('exec "$0" "/#$(xwininfo -root | sed -n \'s/.*Window id: \\(0x[0-9a-f]*\\).*/\\1/p\' '
                  '| xargs printf %d)" /S "$1"')
        r = run(["xvfb-run", "-a", "sh", "-c", script, player, movie],
                {"SDL_VIDEODRIVER": "x11",
                 "LSAN_OPTIONS": "suppressions=" + os.path.join(here, "lsan.supp")},
                timeout=120)
        check("/# parent window under Xvfb",
              r.returncode == 0 and "Total frames played: 8" in r.stdout, r.stdout + r.stderr)
    else:
        print("xvfb-run not found: the real-window check is skipped")

if failures:
    print("\n".join(failures))
    sys.exit(1)
print("all player program checks passed")
