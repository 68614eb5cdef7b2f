#!/usr/bin/env bash
# Builds the programs and their floors, then measures them under Wine and
# writes BENCHMARKS.md. A benchmark, not a test: the figures depend on the
# machine and what else it is doing.
set -euo pipefail
cd "$(dirname "$0")/.."

./install-deps.sh
cmake -S . -B build -DCMAKE_TOOLCHAIN_FILE=cmake/i686-w64-mingw32.cmake \
  -DPython3_EXECUTABLE=/usr/bin/python3 >/dev/null
cmake --build build -j "$(nproc)"
cmake --build build --target floors
BRANNOSTEL_DIST="$PWD/dist" BRANNOSTEL_BUILD="$PWD/build" PYTHONDONTWRITEBYTECODE=1 \
  /usr/bin/python3 bench/run.py
