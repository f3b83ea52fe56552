#!/usr/bin/env bash
# CI only: puts the Developer ID certificate from the secrets (MACOS_CERTIFICATE, a base64 .p12,
# and MACOS_CERTIFICATE_PASSWORD) into a keychain of the run's own, for mac-sign.sh to find.
set -euo pipefail
: "${MACOS_CERTIFICATE:?}" "${MACOS_CERTIFICATE_PASSWORD:?}"
keychain="${RUNNER_TEMP:-$(mktemp -d)}/signing.keychain-db"
password="$(uuidgen)"
certificate="$(mktemp)"
trap 'rm -f "$certificate"' EXIT
base64 --decode <<<"$MACOS_CERTIFICATE" >"$certificate"
security create-keychain -p "$password" "$keychain"
security set-keychain-settings -lut 21600 "$keychain"
security unlock-keychain -p "$password" "$keychain"
security import "$certificate" -P "$MACOS_CERTIFICATE_PASSWORD" -A -t cert -f pkcs12 -k "$keychain"
security set-key-partition-list -S apple-tool:,apple: -k "$password" "$keychain" >/dev/null
# shellcheck disable=SC2046 # one keychain path per word
security list-keychains -d user -s "$keychain" $(security list-keychains -d user | tr -d '"')
