#!/usr/bin/env python3
"""vemo-info --json must print exactly the metadata of every conformance movie,
its report must mark the track played by default, and a damaged movie must be
refused with the header error text and exit 1."""
import json
import os
import subprocess
import sys
import tempfile

tool, conformance = sys.argv[1], sys.argv[2]
failures = 0
movies = sorted(f[:-4] for f in os.listdir(conformance) if f.endswith(".vem"))
for name in movies:
    out = subprocess.run([tool, os.path.join(conformance, name + ".vem"), "--json"],
                         capture_output=True, text=True)
    if out.returncode != 0:
        print(f"{name}: exit {out.returncode}: {out.stderr.strip()}")
        failures += 1
        continue
    got = json.loads(out.stdout)
    with open(os.path.join(conformance, name + ".json")) as f:
        want = json.load(f)
    if got != want:
        keys = sorted(k for k in set(got) | set(want) if got.get(k) != want.get(k))
        print(f"{name}: differs in {keys}")
        failures += 1
    # The text report marks the track the player takes by default: the first with ID 0.
    text = subprocess.run([tool, os.path.join(conformance, name + ".vem")],
                          capture_output=True, text=True).stdout.splitlines()
    marked = [int(l.split()[0][1:]) for l in text if l.lstrip().startswith("#") and "by default" in l]
    ids = [t["id"] for t in want["tracks"]]
    silent = any("no track has ID 0" in l for l in text)
    if marked != ([ids.index(0)] if 0 in ids else []) or silent != (bool(ids) and 0 not in ids):
        print(f"{name}: default track marked {marked}, silent note {silent}, IDs {ids}")
        failures += 1

# A movie embedded at an offset reads the same.
with open(os.path.join(conformance, movies[0] + ".vem"), "rb") as f:
    data = f.read()
with tempfile.TemporaryDirectory() as tmp:
    wrapped = os.path.join(tmp, "wrapped.bin")
    with open(wrapped, "wb") as f:
        f.write(b"x" * 1001 + data + b"trailer")
    out = subprocess.run([tool, f"{wrapped}|1001", "--json"], capture_output=True, text=True)
    with open(os.path.join(conformance, movies[0] + ".json")) as f:
        if out.returncode != 0 or json.loads(out.stdout) != json.load(f):
            print("name|offset form failed:", out.stderr)
            failures += 1
    cases = {
        "notvemo.vem": (b"RIFF" + data[4:], "Not a Vemo file."),
        "noframes.vem": (data[:8] + b"\0\0\0\0" + data[12:], "The file doesn't contain any compressed frames yet."),
        "short.vem": (data[:50], "Error reading Vemo header."),
    }
    for leaf, (content, text) in cases.items():
        path = os.path.join(tmp, leaf)
        with open(path, "wb") as f:
            f.write(content)
        out = subprocess.run([tool, path], capture_output=True, text=True)
        if out.returncode != 1 or out.stderr.splitlines()[:1] != [text]:
            print(f"{leaf}: exit {out.returncode}, stderr {out.stderr!r}")
            failures += 1
    out = subprocess.run([tool, os.path.join(tmp, "missing.vem")], capture_output=True, text=True)
    if out.returncode != 1 or out.stderr.strip() != "Error opening file.":
        print("missing file:", out.returncode, out.stderr)
        failures += 1

print(f"{len(movies)} movies checked, {failures} failures")
sys.exit(1 if failures else 0)
