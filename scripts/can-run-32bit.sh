#!/usr/bin/env bash
# Exits 0 when this machine runs 32-bit x86 programs (wine's i386 loader
# starts), 1 otherwise.
loader=/usr/lib/wine/wine
[ -x "$loader" ] || exit 1
"$loader" --version >/dev/null 2>&1
