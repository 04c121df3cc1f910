#!/bin/bash
# The release's own checks, after the tests: builds the shipped programs and
# the package a second time, from a copy of the source in another folder
# into another build folder, and compares them byte for byte with the first
# build's (the same commit gives the same files wherever it is built),
# printing each file's SHA-256; then checks that the symbols resolve a code
# address of each shipped program to its source line.
# Usage: check-release.sh   (after build.sh; KV_BUILD_DIR names the first build)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${KV_BUILD_DIR:-$root/build}
second=$build/rebuild
tools=i686-w64-mingw32

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
fail() {
    echo "FAIL $*"
    failed=1
}
compare() {
    local first=$1 other=$2 what=$3
    if cmp -s "$first" "$other"; then
        echo "same $(sha256sum "$first" | cut -d' ' -f1)  $what"
    else
        fail "$what differs: $(sha256sum "$first" | cut -d' ' -f1) and $(sha256sum "$other" | cut -d' ' -f1)"
        cmp "$first" "$other" || true
    fi
}
mapfile -t programs < <(grep -v '^#' "$root/installer/shipped-programs.txt")
mapfile -t symbols <"$build/installer/symbol-files.txt"
mapfile -t second_symbols <"$second/build/installer/symbol-files.txt"
for i in "${!programs[@]}"; do
    program=${programs[$i]} shipped=$build/installer/bin/${programs[$i]}
    compare "$shipped" "$second/build/installer/bin/$program" "$program"
    compare "${symbols[$i]}" "${second_symbols[$i]}" "$program, unstripped (symbols)"
    # What ships carries neither debug sections nor a folder of either build.
    ! $tools-objdump -h "$shipped" | grep -q '\.debug' || fail "$program keeps debug sections"
    ! grep -a -q -F -e "$root" -e "$second" "$shipped" || fail "$program names a build folder"
done
compare "$build/installer/Kelvane.msi" "$second/build/installer/Kelvane.msi" Kelvane.msi
echo "second build and comparison: $(($(date +%s) - started)) s"

# A crash address from a shipped program: the same code in its symbol file,
# where addr2line finds a function and a line under /kelvane.
for i in "${!programs[@]}"; do
    program=${programs[$i]} unstripped=${symbols[$i]}
    $tools-objcopy -O binary -j .text "$build/installer/bin/$program" "$second/shipped.text"
    $tools-objcopy -O binary -j .text "$unstripped" "$second/symbols.text"
    cmp -s "$second/shipped.text" "$second/symbols.text" || fail "$program: its code differs from its symbol file's"
    # The first function of the program's own code (the runtime's carry no lines).
    line=$($tools-nm -n --defined-only "$unstripped" | awk '$2 == "T" { print "0x" $1 }' |
        $tools-addr2line -a -f -C -e "$unstripped" | paste - - - |
        awk -F'\t' '!found && $3 ~ /^\/kelvane\/.*:[0-9]+/ { print $1 " is " $2 " at " $3; found = 1 }' |
        # addr2line cuts the underscores off a C++ name and then cannot
        # demangle it: the target's c++filt gets the symbol as it is spelt.
        sed -E 's/ is (Z[0-9])/ is __\1/' | $tools-c++filt)
    if [ -n "$line" ]; then
        echo "symbols: $program $line"
    else
        fail "$program: addr2line finds no function of /kelvane/ in $unstripped"
    fi
done
[ "$failed" -eq 0 ]
