#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test; the exit status tells.
set -euo pipefail
cd "$(dirname "$0")"

./compile.sh
# Whatever happens, leave no wineserver behind to keep anyone waiting.
trap 'WINEPREFIX="$PWD/build/wineprefix" wineserver -k 2>/dev/null || true' EXIT
ctest --test-dir build --output-on-failure
