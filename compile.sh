#!/usr/bin/env bash
# Installs what is missing, then builds everything the scripts need into
# build/ (and the shipped files into dist/). Extra arguments are build targets.
set -euo pipefail
cd "$(dirname "$0")"

./install-deps.sh
cmake -S . -B build -DCMAKE_TOOLCHAIN_FILE=cmake/i686-w64-mingw32.cmake \
  -DPython3_EXECUTABLE=/usr/bin/python3 >/dev/null
cmake --build build -j "$(nproc)" ${1:+--target all "$@"}
