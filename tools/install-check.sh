#!/usr/bin/env bash
# usage: install-check.sh [BUILD_DIR] [OUT_DIR]
# The package as a person installs it: makes a clean Debian 12 root with debootstrap, installs
# the package there with apt (which brings its dependencies and recommendations from Debian's
# archive), and starts the program from its desktop entry as a desktop does (gio launch, with a
# cartridge image as the file), on an X server of its own (Xvfb). It then checks that the window
# is up and the program still running after a few seconds, and leaves a screenshot, the program's
# output and the list of installed files in OUT_DIR (default: BUILD_DIR/install-check).
# Needs root, debootstrap and the network to Debian's archive; takes some minutes, so it is not
# part of CI.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="$(cd "${1:-$here/../build}" && pwd)"
out="${2:-$build/install-check}"
mirror="${VEXALO_DEBIAN_MIRROR:-http://deb.debian.org/debian}"
image="$build/tools/demo/vexalo-demo.nes"
[ "$(id -u)" -eq 0 ] || { echo "install-check.sh: run as root (debootstrap and chroot)" >&2; exit 1; }
command -v debootstrap >/dev/null || { echo "install-check.sh: apt-get install debootstrap" >&2; exit 1; }
[ -f "$image" ] || { echo "install-check.sh: build the demo cartridge first ($image)" >&2; exit 1; }

(cd "$build" && cpack -G DEB >/dev/null)
deb="$(ls -t "$build"/vexalo_*.deb | head -n 1)"
mkdir -p "$out"
root="$(mktemp -d /var/tmp/vexalo-root.XXXXXX)"
mounted=()
cleanup() {
    for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do umount -l "${mounted[i]}" || true; done
    rm -rf --one-file-system "$root"
}
trap cleanup EXIT

echo "== A clean Debian 12 root in $root"
debootstrap --variant=minbase bookworm "$root" "$mirror" >"$out/debootstrap.log" 2>&1 ||
    { tail -20 "$out/debootstrap.log" >&2; exit 1; }
for fs in proc sys dev dev/pts; do
    mount --bind "/$fs" "$root/$fs"
    mounted+=("$root/$fs")
done
cp "$deb" "$root/tmp/"
cp "$image" "$root/tmp/game.nes"
in_root() { chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 "$@"; }

echo "== apt-get install ./$(basename "$deb"), and an X server to show it on"
in_root apt-get update >"$out/apt.log" 2>&1
in_root env DEBIAN_FRONTEND=noninteractive apt-get install -y "/tmp/$(basename "$deb")" \
    >>"$out/apt.log" 2>&1 || { tail -30 "$out/apt.log" >&2; exit 1; }
# The desktop's own launcher, an X server, a window finder and a screen grabber: none of them
# is the package's.
in_root env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends \
    libglib2.0-bin xvfb xauth xdotool x11-apps procps >>"$out/apt.log" 2>&1 ||
    { tail -30 "$out/apt.log" >&2; exit 1; }
grep -E '^(Setting up|Unpacking) ' "$out/apt.log" | wc -l | xargs echo "packages set up:"
in_root dpkg -L vexalo >"$out/files.txt"
in_root dpkg-query -W -f='${Depends}\n' vexalo

echo "== Starting the program from its desktop entry"
cat >"$root/tmp/start.sh" <<'EOS'
set -u
gio launch /usr/share/applications/vexalo.desktop /tmp/game.nes >/tmp/program.log 2>&1
window=$(timeout 30 xdotool search --sync --name '^Vexalo Emulator' | head -n 1)
[ -n "$window" ] || { echo "no window appeared"; exit 1; }
sleep 5
pid=$(pgrep -x vexalo) || { echo "the program has exited"; exit 1; }
echo "window $window: '$(xdotool getwindowname "$window")', $(xdotool getwindowgeometry "$window" | tail -n 1 | xargs); process $pid: $(tr '\0' ' ' </proc/$pid/cmdline)"
xwd -root -silent >/tmp/screen.xwd
kill "$pid"
EOS
in_root timeout 120 xvfb-run -a -s "-screen 0 800x600x24" sh /tmp/start.sh | tee "$out/start.txt"
status=${PIPESTATUS[0]}
cp "$root/tmp/program.log" "$out/program.log" 2>/dev/null || true
if [ -f "$root/tmp/screen.xwd" ]; then
    cp "$root/tmp/screen.xwd" "$out/screen.xwd"
    command -v convert >/dev/null && convert "xwd:$out/screen.xwd" "$out/screen.png" &&
        echo "screenshot: $out/screen.png"
fi
[ "$status" -eq 0 ] || { echo "install-check.sh: the program did not start" >&2; exit 1; }
echo "installed into a clean Debian 12 root and started from its desktop entry"
