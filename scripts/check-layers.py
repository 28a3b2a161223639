#!/usr/bin/env python3
"""Checks that no file includes a header of a higher floor.

Floors, bottom up: the platform layer; the base; the decoders and back ends;
the encoder and the stream engine; the player; the tools. Tests, benchmarks
and fuzzers stand on top. Each public header (include/vemo) belongs to one
area; a private header (any other quoted include) must lie in the including
file's own area. Exits 1 and names every offending include."""
import os
import re
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

FLOORS = {
    "platform": 0,
    "base": 1,
    "video": 2, "audio": 2, "input": 2, "sound": 2, "pixels": 2, "display": 2,
    "encode": 3, "stream": 3,
    "player": 4,
    "tools": 5,
    "tests": 6, "bench": 6, "fuzz": 6,
}

# The area each public header belongs to.
PUBLIC = {
    "platform.h": "platform",
    "version.h": "platform",  # made while building
    "memory.h": "base", "cpu.h": "base", "timer.h": "base", "container.h": "base",
    "movie_reader.h": "base", "container_writer.h": "base", "changed_rects.h": "base",
    "frame_planes.h": "base", "surface_format.h": "base", "flags.h": "base",
    "video_decoder.h": "video", "frame_decoder.h": "video", "video_tables.h": "video",
    "decode_threads.h": "video",
    "audio_decoder.h": "audio", "audio_writer.h": "audio",
    "movie_io.h": "input", "service_thread.h": "input",
    "sound_driver.h": "sound", "sound_headless.h": "sound",
    "pixel_convert.h": "pixels",
    "display_device.h": "display", "display_buffer.h": "display", "display_rules.h": "display",
    "display_win32.h": "display",  # the Windows back end's, in its own folder
    "encoder.h": "encode", "video_writer.h": "encode", "media_input.h": "encode",
    "rate_control.h": "encode",
    "movie.h": "stream", "movie_seek.h": "stream",
    "closing_image_data.h": "player",  # made while building
}

# Headers that a back end publishes from its own folder.
BACK_END = {
    "display_sdl.h": "display",
    "sound_sdl.h": "sound",
    "sound_waveout.h": "sound",
    "sound_dsound.h": "sound",
}

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def area_of(rel):
    parts = rel.split(os.sep)
    if parts[0] == "src":
        return parts[1], os.path.join("src", parts[1])
    if parts[0] == "include":
        return PUBLIC.get(parts[-1]), None
    return parts[0], parts[0]


def check_file(rel, problems):
    area, home = area_of(rel)
    if area is None:
        problems.append(f"{rel}: public header without an area (add it to PUBLIC)")
        return
    floor = FLOORS[area]
    text = open(os.path.join(ROOT, rel), encoding="utf-8").read()
    for name in INCLUDE.findall(text):
        if name.startswith("vemo/"):
            owner = PUBLIC.get(name[5:])
            if owner is None:
                problems.append(f"{rel}: includes unknown public header {name}")
            elif owner != area and FLOORS[owner] >= floor:
                problems.append(f"{rel}: {area} (floor {floor}) includes {name} of "
                                f"{owner} (floor {FLOORS[owner]})")
        elif name in BACK_END and area != BACK_END[name]:
            owner = BACK_END[name]
            if FLOORS[owner] >= floor:
                problems.append(f"{rel}: {area} (floor {floor}) includes the {owner} back end "
                                f"header {name}")
        elif home is not None and home.startswith("src"):
            here = os.path.dirname(rel)
            target = os.path.normpath(os.path.join(here, name))
            found = os.path.exists(os.path.join(ROOT, target)) or os.path.exists(
                os.path.join(ROOT, home, name))
            inside = os.path.normpath(os.path.join(ROOT, target)).startswith(
                os.path.join(ROOT, home) + os.sep)
            if not found or not inside:
                problems.append(f"{rel}: includes {name}, a private header outside {home}")


def main():
    problems = []
    for top in ("include", "src", "tools", "tests", "bench", "fuzz"):
        for dirpath, _, files in os.walk(os.path.join(ROOT, top)):
            for f in files:
                if f.endswith((".h", ".cpp")):
                    check_file(os.path.relpath(os.path.join(dirpath, f), ROOT), problems)
    for p in problems:
        print(p)
    print(f"layering: {len(problems)} problem(s)")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
