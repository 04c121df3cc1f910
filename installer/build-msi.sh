#!/bin/bash
# Builds Kelvane.msi with wixl, then sets in its tables what wixl 0.101 drops.
# Usage: build-msi.sh VERSION BINDIR OUTPUT.msi
#   BINDIR holds Kelvane.exe, kelvanectl.exe, KvInstallAction.exe, KvPackageActions.dll and
#   Kelvane.ico; wixl packs files only by relative paths, so it runs there.
# The same inputs give the same bytes: the dates are SOURCE_DATE_EPOCH (the
# time of the source's last commit when it is not set), the product code
# follows from the upgrade code and the version (a new one for each version,
# as a major upgrade needs), the package code from the content.
set -euo pipefail
version=$1
bindir=$2
output=$(realpath -m "$3")
here=$(cd "$(dirname "$0")" && pwd)
source=$here/Kelvane.wxs

if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
    SOURCE_DATE_EPOCH=$(git -C "$here" log -1 --format=%ct 2>/dev/null || stat -c %Y "$source")
fi
wxs_upgrade_code=$(sed -n 's/.*UpgradeCode="\([0-9A-Fa-f-]*\)".*/\1/p' "$source" | head -n 1)
product_code=$(python3 -c 'import sys, uuid; print(str(uuid.uuid5(uuid.UUID(sys.argv[1]), sys.argv[2])).upper())' \
    "$wxs_upgrade_code" "$version")

cd "$bindir"
# The cabinet keeps each file's modification time.
touch -d "@$SOURCE_DATE_EPOCH" ./*
wixl -a x86 -D Version="$version" -D ProductCode="$product_code" -D BinDir=. -o "$output" "$source"

property() {
    msiinfo export "$output" Property | tr -d '\r' | sed -n "s/^$1\t//p"
}
upgrade_code=$(property UpgradeCode)
secure=$(property SecureCustomProperties)
[ -n "$upgrade_code" ] && [ -n "$secure" ]
# wixl leaves the File table's Version and Language empty, so that Windows
# Installer takes every program for an unversioned file and, by its file
# versioning rules, keeps an installed copy that has a version resource: an
# upgrade would leave the old programs in place. Each program gets the file
# version of its version resource (the project's version, padded to four
# parts as CMake pads it) and its language (US English, Translation 0x409),
# and loses its MsiFileHash row: only unversioned files may be hashed.
file_version=$(echo "$version" | awk -F. '{ printf "%d.%d.%d.%d", $1, $2, $3, $4 }')
file_queries=()
while IFS=$'\t' read -r key name; do
    case "${name##*|}" in
    *.exe | *.dll)
        file_queries+=(-q "UPDATE \`File\` SET \`Version\` = '$file_version', \`Language\` = '1033'
                           WHERE \`File\` = '$key'"
                       -q "DELETE FROM \`MsiFileHash\` WHERE \`File_\` = '$key'")
        ;;
    esac
done < <(msiinfo export "$output" File | tr -d '\r' | tail -n +4 | cut -f 1,3)
[ "${#file_queries[@]}" -gt 0 ]
# Execute="rollback" comes out as an immediate action: the DLL undo actions are
# 1 (DLL) + 0x40 (ignore) + 0x100 (rollback) + 0x400 (in script) + 0x800 (no
# impersonation), the install action's undo actions the same with 2 (EXE from
# the Binary table) for 1. Attributes is part of the Upgrade table's key: the row is made
# again with 1 (migrate features) + 0x100 (minimum inclusive) and this
# version as the excluded maximum. A package removes only older versions of
# itself (ICE61): this version's product code follows from the version, so
# the same version is the installed product itself, repaired or reinstalled. wixl has no Secure="yes"
# either, and the fleet defaults must reach the elevated part of the installation
# whoever starts it.
msibuild "$output" \
    -q "UPDATE \`CustomAction\` SET \`Type\` = 3393 WHERE \`Action\` = 'UndoDefaultProfile'" \
    -q "UPDATE \`CustomAction\` SET \`Type\` = 3393 WHERE \`Action\` = 'ExplainFailedInstall'" \
    -q "UPDATE \`CustomAction\` SET \`Type\` = 3393 WHERE \`Action\` = 'RestoreEndRequestKey'" \
    -q "UPDATE \`CustomAction\` SET \`Type\` = 3394 WHERE \`Action\` = 'UnregisterFailedInstall'" \
    -q "UPDATE \`CustomAction\` SET \`Type\` = 3394 WHERE \`Action\` = 'RestoreRegistration'" \
    -q "UPDATE \`CustomAction\` SET \`Type\` = 3394 WHERE \`Action\` = 'RestoreReplacedRegistration'" \
    -q "DELETE FROM \`Upgrade\` WHERE \`ActionProperty\` = 'WIX_UPGRADE_DETECTED'" \
    -q "INSERT INTO \`Upgrade\` (\`UpgradeCode\`, \`VersionMin\`, \`VersionMax\`, \`Attributes\`, \`ActionProperty\`)
        VALUES ('$upgrade_code', '0.0.0', '$version', 257, 'WIX_UPGRADE_DETECTED')" \
    "${file_queries[@]}" \
    -q "UPDATE \`Property\` SET \`Value\` = '$secure;DEFAULTMODE;SHOWICON' WHERE \`Property\` = 'SecureCustomProperties'"
# The event source's key itself: name "*" and no value create it with the
# component and delete it, with whatever is left in it, on removal (wixl
# has no RegistryKey Action).
msibuild "$output" \
    -q "INSERT INTO \`Registry\` (\`Registry\`, \`Root\`, \`Key\`, \`Name\`, \`Component_\`)
        VALUES ('EventSourceKey', 2, 'SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Vorn Kelvane', '*', 'EventSource')"

# Last, since every change to the database above rewrites the summary.
python3 "$here/msi_summary.py" "$output" "$SOURCE_DATE_EPOCH" "$upgrade_code"
