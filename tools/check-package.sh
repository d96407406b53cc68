#!/usr/bin/env bash
# usage: check-package.sh BUILD_DIR
# Builds the Debian package from an optimised build (`cpack -G DEB`) and checks it: the files it
# holds, its dependencies, its desktop entry and AppStream metadata as the desktop's own tools
# read them, its icons' sizes, both programs starting from the unpacked files, and lintian.
set -euo pipefail
build="$(cd "$1" && pwd)"
(cd "$build" && cpack -G DEB >/dev/null)
deb="$(ls -t "$build"/vexalo_*.deb | head -n 1)"
echo "package: $deb"
fail() { echo "FAIL: $*" >&2; exit 1; }

icon_sizes="16 22 24 32 48 64 128 256"
expected="./usr/bin/vexalo
./usr/bin/vexalo-run
./usr/share/applications/vexalo.desktop
./usr/share/doc/vexalo/changelog.gz
./usr/share/doc/vexalo/copyright
./usr/share/icons/hicolor/scalable/apps/vexalo.svg
./usr/share/man/man1/vexalo-run.1.gz
./usr/share/man/man1/vexalo.1.gz
./usr/share/metainfo/org.ostrane.vexalo.metainfo.xml"
for size in $icon_sizes; do
    expected+=$'\n'"./usr/share/icons/hicolor/${size}x${size}/apps/vexalo.png"
done
files="$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sort)"
if [ "$files" != "$(sort <<<"$expected")" ]; then
    diff <(sort <<<"$expected") <(echo "$files") >&2 || true
    fail "the package's files differ from the expected list (< expected, > packaged)"
fi
echo "files: $(wc -l <<<"$files"), as expected"

depends="$(dpkg-deb -f "$deb" Depends)"
for library in libc6 libqt6widgets6 libqt6openglwidgets6 libfluidsynth3 librtmidi6 \
               libsdl2-2.0-0 qt6-qpa-plugins; do
    grep -q "\(^\|, \)$library\( (\|,\|$\)" <<<"$depends" || fail "Depends lacks $library: $depends"
done
echo "depends: $depends"

root="$(mktemp -d)"
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"
desktop-file-validate "$root/usr/share/applications/vexalo.desktop"
appstreamcli validate-tree --no-net "$root" >/dev/null ||
    { appstreamcli validate-tree --no-net "$root" >&2 || true; fail "AppStream validation"; }
for size in $icon_sizes; do
    png="$root/usr/share/icons/hicolor/${size}x${size}/apps/vexalo.png"
    # The PNG header's width and height: big-endian words at bytes 16 and 20.
    read -r width height < <(od -An -tu1 -j16 -N8 "$png" |
        awk '{print $1*16777216+$2*65536+$3*256+$4, $5*16777216+$6*65536+$7*256+$8}')
    [ "$width $height" = "$size $size" ] || fail "$png is ${width}x$height"
done
for program in vexalo vexalo-run; do
    "$root/usr/bin/$program" --version | grep -q "^$program (Vexalo Emulator) " ||
        fail "$program --version"
    man --warnings -l "$root/usr/share/man/man1/$program.1.gz" 2>&1 >/dev/null |
        { ! grep . >&2; } || fail "the manual page of $program has faults"
done
echo "desktop entry, AppStream metadata, icons, programs and manual pages: good"

lintian --fail-on error,warning "$deb"
echo "lintian: no error or warning"
