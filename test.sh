#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test; the exit status tells.
# BRANNOSTEL_TEST_ARCHS (x86, x64 or x86,x64) narrows the architectures whose
# behaviour is tested under Wine; the others' behaviour tests show as skipped.
# Where this machine cannot run 32-bit programs, x86 behaviour is tested in
# an emulated x86 guest, built here once (guest/).
set -euo pipefail
cd "$(dirname "$0")"

. ./install-and-build.sh
# One line per architecture: tested natively, in the guest, or why not; the
# guest is built here where it is needed and missing.
(cd tests && "$PYTHON" -m rig.places)
# Whatever happens, leave no wineserver behind to keep anyone waiting. CTest
# ends with this script even when it is killed outright, and the guest with
# CTest, so no test run outlives it; a prefix's wineserver, which no kill of
# this script reaches, ends by itself soon after its last program
# (rig.wine.PERSIST_SECONDS).
trap '(cd tests && "$PYTHON" -m rig.wine stop ../build/*/*prefix)' EXIT
# Tests that share nothing run side by side, one per core: those that share
# a Wine prefix or the prefix they are copied from say so (RESOURCE_LOCK).
setpriv --pdeathsig KILL -- ctest --test-dir build --output-on-failure --parallel "$(nproc)"
