#!/usr/bin/env bash
# The program's main job on this machine: builds the Windows folder (dist/KORVANTH417) with
# mingw-w64 and lists what it holds.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$root/tools/env.sh"
dist="$root/dist/KORVANTH417"

"$root/tools/bootstrap.sh"
echo "== building the Windows folder"
cmake -S "$root" -B "$root/build/win64" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" >/dev/null
cmake --build "$root/build/win64" -j "$(nproc)" >/dev/null
rm -rf "$dist"
cmake --install "$root/build/win64" --prefix "$dist" >/dev/null

echo "The Windows folder is $dist:"
(cd "$dist" && find . -type f -printf '  %P  (%s bytes)\n' | sort)
