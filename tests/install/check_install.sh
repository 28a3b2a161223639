#!/usr/bin/env bash
# The installed tree: `cmake --install` into a fresh DESTDIR puts every file in
# its manifest and nothing else, and removing the manifest's files leaves
# nothing behind; the programs answer --version with the project version
# and have manual pages; a consumer builds on the installed library through
# its CMake package and through pkg-config; the desktop knows a movie by its
# name and by its magic; the thumbnailer draws a frame; the .deb holds the
# same tree, runs from it and installs and removes cleanly in a root of its
# own.
# usage: check_install.sh BUILD_DIR SOURCE_DIR VERSION LIBDIR MAN_PAGES(0|1) [SANITIZE]
set -euo pipefail
build=$(cd "$1" && pwd)
source=$(cd "$2" && pwd)
version=$3
libdir=$4
man_pages=$5
sanitize=${6:-}
programs=(vemoplay vemo-info vemo-decode vemo-encode vemo-bundle vemo-make-demo vemo-thumbnail)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}
root=$work/root
usr=$root/usr

echo "== install into a fresh DESTDIR"
DESTDIR=$root cmake --install "$build" --prefix /usr >"$work/install.log"
manifest=$build/install_manifest.txt
(cd "$root" && find . -type f -o -type l | sed 's|^\.||' | sort) >"$work/tree"
sed "s|^$root||" "$manifest" | sort >"$work/listed"
[ -s "$work/listed" ] || fail "install_manifest.txt is empty"
diff -u "$work/listed" "$work/tree" || fail "the tree and install_manifest.txt differ"

expect=("$libdir/libvemo.a" include/vemo/movie.h include/vemo/version.h "$libdir/pkgconfig/vemo.pc"
        "$libdir/cmake/Vemo/VemoConfig.cmake" "$libdir/cmake/Vemo/VemoConfigVersion.cmake"
        "$libdir/cmake/Vemo/VemoTargets.cmake" share/applications/vemoplay.desktop
        share/mime/packages/vemo.xml share/thumbnailers/vemo.thumbnailer)
for p in "${programs[@]}"; do
    expect+=("bin/$p")
    [ "$man_pages" = 1 ] && expect+=("share/man/man1/$p.1")
done
for f in "${expect[@]}"; do
    [ -e "$usr/$f" ] || fail "not installed: /usr/$f"
done
for p in "${programs[@]}"; do
    [ -x "$usr/bin/$p" ] || fail "/usr/bin/$p is not executable"
    # The first line names the program and its version; more lines may follow.
    out=$("$usr/bin/$p" --version | head -n 1) || fail "$p --version failed"
    [ "$out" = "$p $version" ] || fail "$p --version says \"$out\", not \"$p $version\""
    if [ "$man_pages" = 1 ]; then
        page=$usr/share/man/man1/$p.1
        grep -qx "\.TH ${p^^} \"1\" .*" "$page" || fail "$p.1 is not the page of $p"
        grep -q "^$p \\\\- [a-z]" "$page" || fail "$p.1 has no NAME line"
        grep -q -- "Vemo $version" "$page" || fail "$p.1 does not carry $version"
    fi
done

echo "== a demo movie from the installed tools"
movie=$work/demo.vem
"$usr/bin/vemo-make-demo" "$movie" --frames 20 --size 96x64 >/dev/null
frames=$("$usr/bin/vemo-info" "$movie" --json | sed -n 's/^ *"frames": *\([0-9]*\),*$/\1/p')
[ "$frames" = 20 ] || fail "the demo has \"$frames\" frames, not 20"

echo "== consumers of the installed library"
flags=()
[ -n "$sanitize" ] && flags=("-fsanitize=$sanitize")
cmake -S "$source/tests/install/consumer" -B "$work/consumer" -DCMAKE_PREFIX_PATH="$usr" \
    -DCMAKE_CXX_FLAGS="${flags[*]}" >"$work/consumer.log" || fail "find_package(Vemo) failed"
cmake --build "$work/consumer" >>"$work/consumer.log" || fail "the CMake consumer does not build"
out=$("$work/consumer/consumer" "$movie")
[ "$out" = "$version 96x64 20" ] || fail "the CMake consumer says \"$out\""
pc=$(PKG_CONFIG_PATH=$usr/$libdir/pkgconfig pkg-config --cflags --libs vemo)
# shellcheck disable=SC2086
c++ "${flags[@]}" "$source/tests/install/consumer/main.cpp" $pc -o "$work/pc-consumer" ||
    fail "the pkg-config consumer does not build"
out=$("$work/pc-consumer" "$movie")
[ "$out" = "$version 96x64 20" ] || fail "the pkg-config consumer says \"$out\""
[ "$(PKG_CONFIG_PATH=$usr/$libdir/pkgconfig pkg-config --modversion vemo)" = "$version" ] ||
    fail "vemo.pc carries another version"

echo "== the movie type"
mime=$work/mime
mkdir -p "$mime/mime/packages"
cp "$usr/share/mime/packages/vemo.xml" "$mime/mime/packages/"
update-mime-database "$mime/mime" 2>/dev/null
cp "$movie" "$work/named.vem"
cp "$movie" "$work/unnamed.bin"
{ printf 'VEMz'; head -c 60 "$movie" | tail -c 56; } >"$work/other.bin"
type_of() {
    XDG_CURRENT_DESKTOP=GNOME XDG_DATA_HOME=$mime XDG_DATA_DIRS=$mime:/usr/share \
        xdg-mime query filetype "$1"
}
[ "$(type_of "$work/named.vem")" = video/x-vemo ] || fail "a .vem file is not video/x-vemo"
[ "$(type_of "$work/unnamed.bin")" = video/x-vemo ] || fail "the magic does not make video/x-vemo"
[ "$(type_of "$work/other.bin")" != video/x-vemo ] || fail "an unknown version letter is taken"
grep -qx 'MimeType=video/x-vemo;' "$usr/share/applications/vemoplay.desktop" ||
    fail "the desktop entry does not open the movie type"
grep -qx 'MimeType=video/x-vemo;' "$usr/share/thumbnailers/vemo.thumbnailer" ||
    fail "the thumbnailer does not take the movie type"

echo "== the thumbnailer"
"$usr/bin/vemo-thumbnail" -s 128 "$movie" "$work/thumb.png" >/dev/null
[ "$(head -c 8 "$work/thumb.png" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] ||
    fail "the thumbnail is not a PNG"
# IHDR width and height, big-endian, at bytes 16-23.
[ "$(od -An -tu1 -j16 -N8 "$work/thumb.png" | tr -s ' ' | sed 's/^ //')" = "0 0 0 96 0 0 0 64" ] ||
    fail "the thumbnail is not the movie's 96x64 frame"
! "$usr/bin/vemo-thumbnail" -s 0 "$movie" "$work/bad.png" 2>/dev/null || fail "-s 0 taken"
! "$usr/bin/vemo-thumbnail" -s 128 "$work/other.bin" "$work/bad.png" 2>/dev/null ||
    fail "a file that is no movie gave a thumbnail"

echo "== uninstall through the manifest"
# The manifest names the installed paths, with or without the DESTDIR; only
# files inside it are removed.
while IFS= read -r f || [ -n "$f" ]; do
    case $f in "$root"/*) ;; *) f=$root$f ;; esac
    rm -f -- "$f"
done <"$manifest"
left=$(cd "$root" && find . -type f -o -type l)
[ -z "$left" ] || fail "files left after removing the manifest's: $left"

echo "== the .deb"
(cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/deb" >"$work/cpack.log") ||
    { cat "$work/cpack.log"; fail "cpack failed"; }
deb=$(ls "$work"/deb/*.deb)
dpkg-deb --contents "$deb" | awk '{print $6}' | sed 's|^\./|/|' | grep -v '/$' | sort >"$work/deb-files"
sed 's|^|/usr/|' <(printf '%s\n' "${expect[@]}") | sort >"$work/deb-expect"
missing=$(comm -13 "$work/deb-files" "$work/deb-expect")
[ -z "$missing" ] || fail "the .deb lacks: $missing"
dpkg-deb -f "$deb" Depends | grep -q libsdl2 || fail "the .deb does not depend on SDL2"
dpkg-deb -x "$deb" "$work/deb-root"
[ "$("$work/deb-root/usr/bin/vemoplay" --version)" = "vemoplay $version" ] ||
    fail "the packaged vemoplay does not run"

# dpkg itself, into a root of its own (its database included).
droot=$work/dpkg-root
mkdir -p "$droot/var/lib/dpkg/info" "$droot/var/lib/dpkg/updates"
touch "$droot/var/lib/dpkg/status" "$droot/var/lib/dpkg/available"
dpkg_root() { dpkg --root="$droot" --force-depends --force-not-root --force-script-chrootless "$@"; }
dpkg_root -i "$deb" >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log"; fail "dpkg -i failed"; }
[ "$("$droot/usr/bin/vemoplay" --version)" = "vemoplay $version" ] ||
    fail "vemoplay from dpkg -i does not run"
dpkg_root -r vemo >>"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log"; fail "dpkg -r failed"; }
left=$(cd "$droot" && find . -path ./var/lib/dpkg -prune -o \( -type f -o -type l \) -print)
[ -z "$left" ] || fail "files left after dpkg -r: $left"
echo "install check passed"
