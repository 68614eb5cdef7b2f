#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test; the exit status tells.
# BRANNOSTEL_TEST_ARCHS (x86, x64 or x86,x64) narrows the architectures whose
# behaviour is tested under Wine; the others' behaviour tests show as skipped.
# Where this machine cannot run 32-bit programs, x86 behaviour is tested in
# an emulated x86 guest, built here once (tests/guest).
set -euo pipefail
cd "$(dirname "$0")"

. ./install-and-build.sh
# One line per architecture: tested natively, in the guest, or why not.
"$PYTHON" tests/archs.py
"$PYTHON" tests/guest_fixture.py image
# Whatever happens, leave no wineserver behind to keep anyone waiting, and
# no guest that this run booted.
export BRANNOSTEL_RUN_ID=$$
cleanup() {
  "$PYTHON" tests/wine.py stop build/*/wineprefix build/*/msiprefix
  "$PYTHON" tests/guest/guest.py stop
}
trap cleanup EXIT
ctest --test-dir build --output-on-failure
