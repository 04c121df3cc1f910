#!/bin/bash
# The release: builds the shipped programs and the package from the
# committed tree into a fresh folder and puts into build/release/
#   Kelvane-<version>.msi   signed when a key is given (see scripts/sign.sh)
#   policies/               the policy templates, when the source has them
#   symbols/                the unstripped programs, for addr2line
#   SHA256SUMS
# Usage: release.sh   (KV_ALLOW_DIRTY=1 releases uncommitted changes too;
#   KV_REQUIRE_SIGNATURE=1 refuses to release without a key, as a release
#   pipeline must: a misnamed secret would otherwise publish unsigned programs)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=$root/build/release
work=$root/build/release-build

# Before anything is built or removed: a refused release leaves the last one.
if [ "${KV_REQUIRE_SIGNATURE:-}" = 1 ] && [ -z "${KV_SIGN_PKCS12:-}${KV_SIGN_PKCS11_MODULE:-}" ]; then
    echo "release.sh: KV_REQUIRE_SIGNATURE=1 but no key given (KV_SIGN_PKCS12 or KV_SIGN_PKCS11_MODULE," \
         "see scripts/sign.sh): nothing was released" >&2
    exit 1
fi
bash "$root/scripts/install-deps.sh"
if [ -n "$(git -C "$root" status --porcelain --untracked-files=normal)" ] && [ "${KV_ALLOW_DIRTY:-}" != 1 ]; then
    echo "release.sh: the tree has uncommitted changes, so the release could not be rebuilt from its commit" \
         "(commit them, or set KV_ALLOW_DIRTY=1)" >&2
    exit 1
fi
# The package's dates: the commit's time, as every other build of it has.
SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct)}
export SOURCE_DATE_EPOCH

rm -rf "$work" "$out"
cmake -S "$root" -B "$work" -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-i686.cmake" >/dev/null
cmake --build "$work" --parallel "$(nproc)" --target package_msi >/dev/null
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$work/CMakeCache.txt")
msi=Kelvane-$version.msi

mkdir -p "$out/symbols"
if [ -n "${KV_SIGN_PKCS12:-}${KV_SIGN_PKCS11_MODULE:-}" ]; then
    cp -r "$work/installer/bin" "$work/signed"
    bash "$root/scripts/sign.sh" --package "$version" "$work/signed" "$out/$msi"
else
    cp "$work/installer/Kelvane.msi" "$out/$msi"
    echo "UNSIGNED: no key given (KV_SIGN_PKCS12 or KV_SIGN_PKCS11_MODULE, see scripts/sign.sh):" \
         "$msi and the programs in it carry no signature."
fi
[ ! -d "$root/policies" ] || cp -r "$root/policies" "$out/policies"
# Code at the same addresses as the shipped programs, with line tables.
while read -r program; do
    cp "$program" "$out/symbols/"
done <"$work/installer/symbol-files.txt"

cd "$out"
find . -type f ! -name SHA256SUMS -printf '%P\n' | LC_ALL=C sort | xargs -d '\n' sha256sum >SHA256SUMS
echo "Release $version in $out:"
cat SHA256SUMS
