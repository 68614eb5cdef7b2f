#!/usr/bin/env bash
# Signs the given files in place with the code-signing certificate and key
# (PEM files) named by BRANNOSTEL_SIGN_CERT and BRANNOSTEL_SIGN_KEY; without
# them it does nothing. With SOURCE_DATE_EPOCH set, that is the signing time,
# so the signed files are reproducible too.
set -euo pipefail

cert=${BRANNOSTEL_SIGN_CERT:-} key=${BRANNOSTEL_SIGN_KEY:-}
[ -z "$cert" ] && [ -z "$key" ] && exit 0
if [ -z "$cert" ] || [ -z "$key" ]; then
  echo "sign.sh: set both BRANNOSTEL_SIGN_CERT and BRANNOSTEL_SIGN_KEY, or neither" >&2
  exit 1
fi

for file in "$@"; do
  unsigned="$file.unsigned"
  # A file signed by an earlier run is signed afresh, not signed twice.
  osslsigncode remove-signature -in "$file" -out "$unsigned" >/dev/null 2>&1 ||
    cp "$file" "$unsigned"
  osslsigncode sign -certs "$cert" -key "$key" -h sha256 -n "Brannostel dial-up launchers" \
    ${SOURCE_DATE_EPOCH:+-time "$SOURCE_DATE_EPOCH"} -in "$unsigned" -out "$file.signed" >/dev/null
  mv "$file.signed" "$file"
  rm -f "$unsigned"
done
