#!/usr/bin/env bash
# Installs what is missing, builds the release into dist/ (the programs of
# each architecture in dist/x86 and dist/x64, one MSI per architecture,
# signed when a certificate is given, and SHA256SUMS), then shows the
# programs at work under Wine with the test stand-ins, for each architecture
# this machine can run.
set -euo pipefail
cd "$(dirname "$0")"

# dist/ is made afresh: programs signed by an earlier run are linked again.
rm -rf dist
. ./install-and-build.sh

# With BRANNOSTEL_SIGN_CERT and BRANNOSTEL_SIGN_KEY: sign the programs, pack
# the signed programs again, sign the packages. Without them, nothing changes.
if [ -n "${BRANNOSTEL_SIGN_CERT:-}${BRANNOSTEL_SIGN_KEY:-}" ]; then
  ./sign.sh dist/*/*.exe
  for arch in x86 x64; do cmake --build "build/$arch" --target msi; done
  ./sign.sh dist/*.msi
  echo "Signed: $(cd dist && echo */*.exe *.msi)"
fi
(cd dist && sha256sum -- */*.exe *.msi >SHA256SUMS)

echo
(cd dist && ls -l -- */*.exe *.msi SHA256SUMS)
for arch in x86 x64; do cmake --build "build/$arch" --target demo; done
