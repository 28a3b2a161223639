#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need (only the missing
# ones). Run as root or with sudo available. help2man makes the manual pages;
# xdg-utils, shared-mime-info and libglib2.0-bin (gio, which xdg-mime asks)
# and dpkg-dev (dpkg-shlibdeps, for the .deb) serve the install check. The
# 32-bit OpenGL libraries let 32-bit wine give DirectDraw video-memory
# surfaces (the display check's off-screen styles).
set -euo pipefail

native=(build-essential cmake pkg-config python3 googletest libbenchmark-dev clang
        libsdl2-dev libsdl2-ttf-dev fonts-dejavu-core libpng-dev sox xvfb xauth universal-ctags
        clang-format help2man xdg-utils shared-mime-info libglib2.0-bin dpkg-dev)
windows=(g++-mingw-w64-i686 g++-mingw-w64-x86-64-posix wine wine32:i386 wine64 x11-apps file python3 libasound2:amd64
         xdotool libgl1:i386 libglx-mesa0:i386 libgl1-mesa-dri:i386)

want=("${native[@]}")
if [ "${VEMO_SKIP_WINDOWS:-0}" != 1 ]; then want+=("${windows[@]}"); fi
# bench/compare.sh: libyuv for the conversion ratios, mjpegtools (mpeg2enc) and
# mpeg2dec (libmpeg2) for the decode comparison, photographs to make its clip
# from and djpeg to read them.
bench=(libyuv-dev mjpegtools mpeg2dec mate-backgrounds libjpeg-turbo-progs)
if [ "${1:-}" = "--bench" ]; then want+=("${bench[@]}"); fi

sudo_cmd=()
if [ "$(id -u)" != 0 ]; then sudo_cmd=(sudo); fi

missing=()
for p in "${want[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
if printf '%s\n' "${missing[@]}" | grep -q ':i386$'; then
  dpkg --print-foreign-architectures | grep -q i386 || "${sudo_cmd[@]}" dpkg --add-architecture i386
fi
"${sudo_cmd[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
