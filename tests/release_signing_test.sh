#!/bin/bash
# release.sh with KV_REQUIRE_SIGNATURE=1 stops before anything is built or
# removed when no key is named. Run on a copy whose next step (installing the
# tools) is a stand-in that exits 42: 42 means the check let the release go on.
# Usage: release_signing_test.sh
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/scripts" "$scratch/build/release"
cp "$root/scripts/release.sh" "$scratch/scripts/"
printf 'exit 42\n' >"$scratch/scripts/install-deps.sh"
touch "$scratch/build/release/earlier"

failed=0
# environment | expected exit code
while IFS='|' read -r environment expected; do
    code=0
    output=$(env -u KV_SIGN_PKCS12 -u KV_SIGN_PKCS11_MODULE -u KV_REQUIRE_SIGNATURE $environment \
        bash "$scratch/scripts/release.sh" 2>&1) || code=$?
    if [ "$code" = "$expected" ] && [ -e "$scratch/build/release/earlier" ]; then
        echo "ok   [$environment]: exit $code"
    else
        echo "FAIL [$environment]: exit $code, expected $expected; earlier release kept:" \
             "$([ -e "$scratch/build/release/earlier" ] && echo yes || echo no); output: $output"
        failed=$((failed + 1))
    fi
done <<'CASES'
KV_REQUIRE_SIGNATURE=1|1
KV_REQUIRE_SIGNATURE=1 KV_SIGN_PKCS12_FILE=/keys/signer.p12|1
KV_REQUIRE_SIGNATURE=1 KV_SIGN_PKCS12=|1
KV_REQUIRE_SIGNATURE=1 KV_SIGN_PKCS12=/keys/signer.p12|42
KV_REQUIRE_SIGNATURE=1 KV_SIGN_PKCS11_MODULE=/usr/lib/token.so|42
KV_REQUIRE_SIGNATURE=0|42
|42
CASES
[ "$failed" -eq 0 ]
