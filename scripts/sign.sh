#!/bin/bash
# Authenticode signatures (SHA-256) for what the release ships, made with
# osslsigncode.
# Usage:
#   sign.sh FILE...                            signs each program or package in place
#   sign.sh --package VERSION BINDIR OUT.msi   signs the shipped programs in BINDIR,
#                                              builds the package from them, signs it
# The key comes from the environment, one of:
#   KV_SIGN_PKCS12          a PKCS#12 file with the key and its certificates,
#   KV_SIGN_PASSWORD        and its password;
#   KV_SIGN_PKCS11_MODULE   a token's PKCS#11 library,
#   KV_SIGN_PKCS11_KEY      the key on it (a pkcs11: URI or id),
#   KV_SIGN_CERTS           the signing certificate and its chain (PEM),
#   KV_SIGN_PASSWORD        the token's PIN (optional),
#   KV_SIGN_PKCS11_ENGINE   the OpenSSL engine, when not the default one.
# KV_SIGN_TIMESTAMP_URL names an RFC 3161 time-stamp server; without it the
# signatures carry no time stamp (and are then valid only as long as the
# certificate is).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

key_options=()
if [ -n "${KV_SIGN_PKCS12:-}" ]; then
    key_options=(-pkcs12 "$KV_SIGN_PKCS12")
elif [ -n "${KV_SIGN_PKCS11_MODULE:-}" ]; then
    : "${KV_SIGN_PKCS11_KEY:?sign.sh: KV_SIGN_PKCS11_KEY names the key on the token}"
    : "${KV_SIGN_CERTS:?sign.sh: KV_SIGN_CERTS names the certificate chain (PEM)}"
    [ -z "${KV_SIGN_PKCS11_ENGINE:-}" ] || key_options=(-pkcs11engine "$KV_SIGN_PKCS11_ENGINE")
    key_options+=(-pkcs11module "$KV_SIGN_PKCS11_MODULE" -key "$KV_SIGN_PKCS11_KEY" -certs "$KV_SIGN_CERTS")
else
    echo "sign.sh: no key: set KV_SIGN_PKCS12 and KV_SIGN_PASSWORD, or KV_SIGN_PKCS11_MODULE," \
         "KV_SIGN_PKCS11_KEY and KV_SIGN_CERTS" >&2
    exit 2
fi
[ -z "${KV_SIGN_TIMESTAMP_URL:-}" ] || key_options+=(-ts "$KV_SIGN_TIMESTAMP_URL")

# The password or PIN goes through a pipe, never on a command line.
[ -z "${KV_SIGN_PASSWORD+set}" ] || key_options+=(-readpass -)

sign_in_place() {
    local file=$1
    printf '%s' "${KV_SIGN_PASSWORD:-}" |
        osslsigncode sign "${key_options[@]}" -h sha256 -n "Vorn Kelvane" \
            -in "$file" -out "$file.signed" >/dev/null
    mv -f "$file.signed" "$file"
    echo "signed $file"
}

if [ "${1:-}" = --package ]; then
    [ $# -eq 4 ] || { echo "usage: sign.sh --package VERSION BINDIR OUT.msi" >&2; exit 2; }
    version=$2 bindir=$3 output=$4
    while read -r program; do
        sign_in_place "$bindir/$program"
    done < <(grep -v '^#' "$root/installer/shipped-programs.txt")
    bash "$root/installer/build-msi.sh" "$version" "$bindir" "$output"
    sign_in_place "$output"
else
    [ $# -gt 0 ] || { echo "usage: sign.sh FILE... | sign.sh --package VERSION BINDIR OUT.msi" >&2; exit 2; }
    for file in "$@"; do
        sign_in_place "$file"
    done
fi
