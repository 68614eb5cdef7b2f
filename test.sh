#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test; the exit status tells.
# BRANNOSTEL_TEST_ARCHS (x86, x64 or x86,x64) narrows the architectures whose
# behaviour is tested under Wine; the others' behaviour tests show as skipped.
set -euo pipefail
cd "$(dirname "$0")"

. ./install-and-build.sh
# One line per architecture: tested here, or why not.
"$PYTHON" tests/archs.py
# Whatever happens, leave no wineserver behind to keep anyone waiting.
# (A prefix whose wineserver has already ended is fine: hence || true.)
trap 'for prefix in build/*/wineprefix build/*/msiprefix; do
        if [ -d "$prefix" ]; then
          WINEPREFIX="$PWD/$prefix" /usr/lib/wine/wineserver -k 2>/dev/null || true
        fi
      done' EXIT
ctest --test-dir build --output-on-failure
