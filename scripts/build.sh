#!/bin/bash
# Configures and builds both configurations: native (host layer, tests,
# fuzz replays, benchmarks) in build/native and 32-bit Windows (mingw-w64)
# in build/win32.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
jobs=$(nproc 2>/dev/null || echo 2)
generator=()
command -v ninja >/dev/null 2>&1 && generator=(-G Ninja)
cmake -S . -B build/native "${generator[@]}" >/dev/null
cmake --build build/native -j "$jobs"
cmake -S . -B build/win32 "${generator[@]}" \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/i686-w64-mingw32.cmake" \
    -DSAVERPACK_NATIVE_TOOL="$root/build/native/saverpack" >/dev/null
cmake --build build/win32 -j "$jobs"
