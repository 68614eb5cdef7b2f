#!/usr/bin/env bash
# Installs what is missing, builds the release into dist/ (both programs and
# the MSI, signed when a certificate is given, and SHA256SUMS), then shows the
# programs at work under Wine with the test stand-ins.
set -euo pipefail
cd "$(dirname "$0")"

# dist/ is made afresh: programs signed by an earlier run are linked again.
rm -rf dist
./compile.sh

# With BRANNOSTEL_SIGN_CERT and BRANNOSTEL_SIGN_KEY: sign the programs, pack
# the signed programs again, sign the package. Without them, nothing changes.
if [ -n "${BRANNOSTEL_SIGN_CERT:-}${BRANNOSTEL_SIGN_KEY:-}" ]; then
  ./sign.sh dist/*.exe
  cmake --build build --target msi
  ./sign.sh dist/*.msi
  echo "Signed: $(cd dist && echo *.exe *.msi)"
fi
(cd dist && sha256sum -- *.exe *.msi >SHA256SUMS)

echo
ls -l dist
BRANNOSTEL_DIST="$PWD/dist" BRANNOSTEL_BUILD="$PWD/build" PYTHONDONTWRITEBYTECODE=1 \
  /usr/bin/python3 tests/demo.py
