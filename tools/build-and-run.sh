#!/usr/bin/env bash
# Sets up a fresh Debian machine, builds Vexalo and starts the desktop program on the bundled
# demo cartridge (or on the image given as the first argument).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/tools/install-deps.sh"
cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build "$root/build" --target vexalo_app demo_cartridge
exec "$root/build/app/vexalo" "${1:-$root/build/tools/demo/vexalo-demo.nes}"
