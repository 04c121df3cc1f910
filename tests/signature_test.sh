#!/bin/bash
# The signed copy of the release (signed_release.sh): every shipped program
# and the package verify against the test authority and against no other;
# the signature is their only difference from the unsigned bytes; a changed
# byte makes verification fail.
# Usage: signature_test.sh SIGNED-DIR UNSIGNED-BINDIR VERSION
set -u
signed=$1 unsigned=$2 version=$3
root=$(cd "$(dirname "$0")/.." && pwd)
work=$signed/check
rm -rf "$work" && mkdir -p "$work"
failed=0

# expect WHAT EXPECTED ACTUAL
expect() {
    if [ "$2" = "$3" ]; then
        echo "ok   $1: $3"
    else
        echo "FAIL $1: $3, expected $2"
        failed=$((failed + 1))
    fi
}

verify() {
    osslsigncode verify -CAfile "$2" -in "$1" >"$work/verify.log" 2>&1 && echo verified || echo refused
}

# The Authenticode digest and what it covers, as signed.
content() {
    rm -f "$work/data"
    if osslsigncode extract-data -h sha256 -in "$1" -out "$work/data" >/dev/null 2>&1; then
        sha256sum <"$work/data" | cut -c1-16
    else
        echo "<no digest>"
    fi
}

# flip FILE OFFSET: a copy with one byte changed.
flip() {
    cp "$1" "$work/tampered"
    printf "$(printf '\\%03o' $(($(od -An -tu1 -j "$2" -N1 "$1") ^ 0xFF)))" |
        dd of="$work/tampered" bs=1 seek="$2" conv=notrunc status=none
    echo "$work/tampered"
}

files=()
while read -r program; do files+=("bin/$program"); done < <(grep -v '^#' "$root/installer/shipped-programs.txt")
for file in "${files[@]}" Kelvane.msi; do
    expect "$file with the test authority" verified "$(verify "$signed/$file" "$signed/ca/ca.pem")"
    expect "$file with the system's authorities" refused "$(verify "$signed/$file" /etc/ssl/certs/ca-certificates.crt)"
done
for file in "${files[@]}"; do
    expect "$file signed and unsigned: digest content" "$(content "$unsigned/${file#bin/}")" "$(content "$signed/$file")"
    size=$(stat -c %s "$signed/$file")
    expect "$file with a byte changed" refused "$(verify "$(flip "$signed/$file" $((size / 2)))" "$signed/ca/ca.pem")"
done
# The package from the signed programs, built again unsigned, with the dates
# the build gave it (a commit made since would give others).
epoch_file=$unsigned/../source-date-epoch
[ ! -s "$epoch_file" ] || export SOURCE_DATE_EPOCH="$(cat "$epoch_file")"
bash "$root/installer/build-msi.sh" "$version" "$signed/bin" "$work/unsigned.msi"
expect "Kelvane.msi signed and unsigned: digest content" "$(content "$work/unsigned.msi")" "$(content "$signed/Kelvane.msi")"
cabinet=$(grep -oba MSCF "$signed/Kelvane.msi" | head -n 1 | cut -d: -f1)
expect "Kelvane.msi with a byte of its cabinet changed" refused \
    "$(verify "$(flip "$signed/Kelvane.msi" $((cabinet + 4096)))" "$signed/ca/ca.pem")"

[ "$failed" -eq 0 ]
