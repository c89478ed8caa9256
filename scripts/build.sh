#!/usr/bin/env bash
# Builds vigil for this machine (Release) into build/release; the programs land in
# build/release/bin. With "windows" as argument it cross-builds the Windows programs into
# build/release-windows/bin instead.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
jobs=$(nproc 2>/dev/null || echo 2)
if [ "${1:-}" = windows ]; then
    out="$root/build/release-windows"
    cmake -S "$root" -B "$out" -DCMAKE_BUILD_TYPE=Release -DVIGIL_TESTS=OFF \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" >/dev/null
else
    out="$root/build/release"
    cmake -S "$root" -B "$out" -DCMAKE_BUILD_TYPE=Release -DVIGIL_TESTS=OFF >/dev/null
fi
cmake --build "$out" -j "$jobs"
echo "built: $out/bin"
