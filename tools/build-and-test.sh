#!/usr/bin/env bash
# Sets up a fresh Debian machine, builds Vexalo and runs every test: a build with
# AddressSanitizer and UndefinedBehaviorSanitizer running the library's tests and every test
# cartridge, the fuzz targets for a bounded time, an optimised build with all tests, and last the
# Debian package built from it and checked.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
jobs="$(nproc)"
"$root/tools/install-deps.sh"

echo "== Sanitizer build"
cmake -S "$root" -B "$root/build-sanitize" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVEXALO_SANITIZE=ON -DVEXALO_PLATFORM=OFF
cmake --build "$root/build-sanitize" -j "$jobs"
(cd "$root/build-sanitize" && ctest --output-on-failure -j "$jobs")

echo "== Fuzzing (bounded: VEXALO_FUZZ_SECONDS per target, default 60)"
cmake -S "$root" -B "$root/build-fuzz" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER=clang++ -DVEXALO_FUZZ=ON -DVEXALO_TESTS=OFF -DVEXALO_PLATFORM=OFF \
    -DVEXALO_FUZZ_SECONDS="${VEXALO_FUZZ_SECONDS:-60}"
cmake --build "$root/build-fuzz" -j "$jobs" --target fuzz_image fuzz_registers fuzz_state
(cd "$root/build-fuzz" && ctest --output-on-failure -j "$jobs")

echo "== Optimised build"
cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build "$root/build" -j "$jobs"
(cd "$root/build" && ctest --output-on-failure -j "$jobs")

echo "== Debian package"
"$root/tools/check-package.sh" "$root/build"
