#!/bin/bash
# Builds the shipped programs and the package a second time, from a copy of
# the source in another folder into another build folder, and compares them
# byte for byte with the first build's: the same commit must give the same
# files wherever it is built. Prints each file's SHA-256.
# Usage: rebuild-compare.sh   (after build.sh; KV_BUILD_DIR names the first build)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${KV_BUILD_DIR:-$root/build}
second=$build/rebuild

started=$(date +%s)
rm -rf "$second"
mkdir -p "$second/source"
tar -C "$root" --exclude='./build*' --exclude=./.git -cf - . | tar -C "$second/source" -xf -
# The copy is no checkout: the package's dates come from the same commit.
SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct)}
export SOURCE_DATE_EPOCH
cmake -S "$second/source" -B "$second/build" -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_TOOLCHAIN_FILE="$second/source/cmake/toolchain-mingw-i686.cmake" >/dev/null
cmake --build "$second/build" --parallel "$(nproc)" --target package_msi >/dev/null

failed=0
compare() {
    local first=$1 other=$2 what=$3
    if cmp -s "$first" "$other"; then
        echo "same $(sha256sum "$first" | cut -d' ' -f1)  $what"
    else
        echo "DIFFERENT  $what: $(sha256sum "$first" | cut -d' ' -f1) and $(sha256sum "$other" | cut -d' ' -f1)"
        cmp "$first" "$other" || true
        failed=1
    fi
}
while read -r program; do
    compare "$build/installer/bin/$program" "$second/build/installer/bin/$program" "$program"
    # What ships carries neither debug sections nor a folder of either build.
    if i686-w64-mingw32-objdump -h "$build/installer/bin/$program" | grep -q '\.debug'; then
        echo "FAIL $program keeps debug sections"
        failed=1
    fi
    if grep -a -q -F -e "$root" -e "$second" "$build/installer/bin/$program"; then
        echo "FAIL $program names a build folder"
        failed=1
    fi
done < <(grep -v '^#' "$root/installer/shipped-programs.txt")
compare "$build/installer/Kelvane.msi" "$second/build/installer/Kelvane.msi" Kelvane.msi
echo "second build and comparison: $(($(date +%s) - started)) s"
[ "$failed" -eq 0 ]
