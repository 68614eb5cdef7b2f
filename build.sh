#!/usr/bin/env bash
# Installs what is missing, builds the release programs into dist/, then shows
# them at work under Wine with the test stand-ins.
set -euo pipefail
cd "$(dirname "$0")"

./install-deps.sh
cmake -S . -B build -DCMAKE_TOOLCHAIN_FILE=cmake/i686-w64-mingw32.cmake \
  -DPython3_EXECUTABLE=/usr/bin/python3 >/dev/null
cmake --build build -j "$(nproc)"
echo
ls -l dist
BRANNOSTEL_DIST="$PWD/dist" BRANNOSTEL_BUILD="$PWD/build" PYTHONDONTWRITEBYTECODE=1 \
  /usr/bin/python3 tests/demo.py
