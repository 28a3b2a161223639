#!/usr/bin/env python3
"""Checks that no function of the tree is longer than 80 lines (a function
should be short enough to read at once). Lengths come from Universal Ctags;
without it the check says so and is skipped (exit 77)."""
import os
import shutil
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
LIMIT = 80


def main():
    ctags = shutil.which("ctags-universal") or shutil.which("ctags")
    if not ctags:
        print("function length: ctags not found, skipped")
        return 77
    out = subprocess.run(
        [ctags, "-R", "--languages=C++", "--kinds-C++=f", "--fields=+ne", "-x",
         "--_xformat=%{line} %{end} %{input} %{name}",
         "src", "tools", "tests", "bench", "fuzz", "include"],
        cwd=ROOT, capture_output=True, text=True, check=True).stdout
    long = []
    for row in out.splitlines():
        parts = row.split(" ", 3)
        if len(parts) < 4 or not parts[1].isdigit():
            continue
        lines = int(parts[1]) - int(parts[0]) + 1
        if lines > LIMIT:
            long.append((lines, parts[2], parts[0], parts[3]))
    for lines, path, line, name in sorted(long, reverse=True):
        print(f"{path}:{line}: {name} has {lines} lines (at most {LIMIT})")
    print(f"function length: {len(long)} function(s) over {LIMIT} lines")
    return 1 if long else 0


if __name__ == "__main__":
    sys.exit(main())
