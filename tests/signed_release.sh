#!/bin/bash
# A signed copy of the release for the signature tests: a throwaway test
# certificate authority and code-signing certificate (made here, each build,
# and trusted nowhere but in those tests), the shipped programs signed with
# it, the package built from them and signed.
# Usage: signed_release.sh OUTDIR UNSIGNED-BINDIR VERSION
set -euo pipefail
out=$1 unsigned=$2 version=$3
root=$(cd "$(dirname "$0")/.." && pwd)

rm -rf "$out"
mkdir -p "$out/ca"
cd "$out/ca"
openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 30 -subj "/CN=Kelvane Test Root" \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
openssl x509 -in ca.pem -outform der -out ca.der
openssl req -newkey rsa:2048 -nodes -keyout signer.key -out signer.csr -subj "/CN=Kelvane Test Signer/O=Quellmark" 2>/dev/null
printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' >signer.ext
openssl x509 -req -in signer.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 30 -extfile signer.ext \
    -out signer.pem 2>/dev/null
openssl pkcs12 -export -inkey signer.key -in signer.pem -certfile ca.pem -passout pass:kelvane-test -out signer.p12

cp -r "$unsigned" "$out/bin"
KV_SIGN_PKCS12=$out/ca/signer.p12 KV_SIGN_PASSWORD=kelvane-test \
    bash "$root/scripts/sign.sh" --package "$version" "$out/bin" "$out/Kelvane.msi" >/dev/null
