#!/usr/bin/env bash
# Installs what is missing, builds the release into dist/ (the programs of
# each architecture in dist/x86 and dist/x64, one MSI per architecture,
# signed when a certificate is given, and SHA256SUMS), then shows the
# programs at work under Wine with the test stand-ins, each architecture
# this machine can run: where it cannot run 32-bit programs, the x86 ones
# only in the emulated test guest, if ./test.sh has built it already.
set -euo pipefail
cd "$(dirname "$0")"

# dist/ is made afresh: programs signed by an earlier run are linked again.
rm -rf dist
. ./install-and-build.sh

# With BRANNOSTEL_SIGN_CERT and BRANNOSTEL_SIGN_KEY (and, optionally,
# BRANNOSTEL_SIGN_TIMESTAMP_URL): sign the programs, pack the signed programs
# again, sign the packages. Without them, nothing changes. If any signing
# fails, dist/ goes: no half-signed release is left behind.
sign_release() {
  ./sign.sh dist/*/*.exe &&
    cmake --build --preset x86 --target msi &&
    cmake --build --preset x64 --target msi &&
    ./sign.sh dist/*.msi
}
if [ -n "${BRANNOSTEL_SIGN_CERT:-}${BRANNOSTEL_SIGN_KEY:-}${BRANNOSTEL_SIGN_TIMESTAMP_URL:-}" ]; then
  # sign.sh says what failed, in a line of its own.
  if ! sign_release >/dev/null; then
    rm -rf dist
    echo "build.sh: signing failed; dist/ removed, so nothing half-signed is left" >&2
    exit 1
  fi
  echo "Signed${BRANNOSTEL_SIGN_TIMESTAMP_URL:+ and timestamped}: $(cd dist && echo */*.exe *.msi)"
fi
cmake -DDIST=dist -P cmake/sums.cmake

echo
(cd dist && ls -l -- */*.exe *.msi SHA256SUMS)
for arch in x86 x64; do cmake --build "build/$arch" --target demo; done
