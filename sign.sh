#!/usr/bin/env bash
# Signs the given files in place with the code-signing certificate and key
# (PEM files) named by BRANNOSTEL_SIGN_CERT and BRANNOSTEL_SIGN_KEY; without
# them it does nothing. With BRANNOSTEL_SIGN_TIMESTAMP_URL, each signature
# gets an RFC 3161 timestamp from that server, so it still verifies after
# the certificate has expired. With SOURCE_DATE_EPOCH set, that is the
# signing time, so signatures without a timestamp are reproducible too.
#
# All or nothing: every file is signed aside first, and only when all of
# them are signed do they replace the originals.
set -euo pipefail

cert=${BRANNOSTEL_SIGN_CERT:-} key=${BRANNOSTEL_SIGN_KEY:-}
timestamp=${BRANNOSTEL_SIGN_TIMESTAMP_URL:-}
if [ -z "$cert" ] && [ -z "$key" ]; then
  if [ -n "$timestamp" ]; then
    echo "sign.sh: BRANNOSTEL_SIGN_TIMESTAMP_URL needs BRANNOSTEL_SIGN_CERT and BRANNOSTEL_SIGN_KEY" >&2
    exit 1
  fi
  exit 0
fi
if [ -z "$cert" ] || [ -z "$key" ]; then
  echo "sign.sh: set both BRANNOSTEL_SIGN_CERT and BRANNOSTEL_SIGN_KEY, or neither" >&2
  exit 1
fi

trap 'for file in "$@"; do rm -f -- "$file.unsigned" "$file.signed"; done' EXIT
for file in "$@"; do
  # A file signed by an earlier run is signed afresh, not signed twice.
  osslsigncode remove-signature -in "$file" -out "$file.unsigned" >/dev/null 2>&1 ||
    cp -- "$file" "$file.unsigned"
  if ! output=$(osslsigncode sign -certs "$cert" -key "$key" -h sha256 \
      -n "Brannostel dial-up launchers" ${timestamp:+-ts "$timestamp"} \
      ${SOURCE_DATE_EPOCH:+-time "$SOURCE_DATE_EPOCH"} \
      -in "$file.unsigned" -out "$file.signed" 2>&1); then
    reason="osslsigncode: $(grep -m1 -v '^Connecting' <<<"$output" || true)"
    grep -q "timestamping failed" <<<"$output" &&
      reason="the timestamp server $timestamp gave no timestamp"
    echo "sign.sh: cannot sign $file: $reason; no file was changed" >&2
    exit 1
  fi
done
for file in "$@"; do mv -- "$file.signed" "$file"; done
