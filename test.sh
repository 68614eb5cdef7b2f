#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test; the exit status tells.
set -euo pipefail
cd "$(dirname "$0")"

./install-deps.sh
cmake -S . -B build -DCMAKE_TOOLCHAIN_FILE=cmake/i686-w64-mingw32.cmake \
  -DPython3_EXECUTABLE=/usr/bin/python3 >/dev/null
cmake --build build -j "$(nproc)"
# Whatever happens, leave no wineserver behind to keep anyone waiting.
trap 'WINEPREFIX="$PWD/build/wineprefix" wineserver -k 2>/dev/null || true' EXIT
ctest --test-dir build --output-on-failure
