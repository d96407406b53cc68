#!/usr/bin/env bash
# Sets up a fresh Debian machine, builds Vexalo and runs every test: an optimised build with all
# tests, then a build with AddressSanitizer and UndefinedBehaviorSanitizer running the library's
# tests and every test cartridge.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
jobs="$(nproc)"
"$root/tools/install-deps.sh"

echo "== Optimised build"
cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build "$root/build" -j "$jobs"
(cd "$root/build" && ctest --output-on-failure -j "$jobs")

echo "== Sanitizer build"
cmake -S "$root" -B "$root/build-sanitize" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVEXALO_SANITIZE=ON -DVEXALO_PLATFORM=OFF
cmake --build "$root/build-sanitize" -j "$jobs"
(cd "$root/build-sanitize" && ctest --output-on-failure -j "$jobs")
