#!/usr/bin/env bash
# Sets up a fresh Debian machine, builds Vexalo and runs the bundled demo cartridge headless,
# saving its last frame as vexalo-demo.bmp. Extra arguments go to the runner.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/tools/install-deps.sh"
cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build "$root/build" --target vexalo-run demo_cartridge
"$root/build/tools/vexalo-run" "$root/build/tools/demo/vexalo-demo.nes" \
    --frames 600 --snapshot "$root/vexalo-demo.bmp" --bench "$@"
echo "The demo's last frame is in $root/vexalo-demo.bmp"
