#!/bin/bash
# Builds Kelvane.msi with wixl, then sets in its tables what wixl 0.101 drops.
# Usage: build-msi.sh VERSION BINDIR OUTPUT.msi
#   BINDIR holds Kelvane.exe, kelvanectl.exe, KvInstallAction.exe, KvPackageActions.dll and
#   Kelvane.ico; wixl packs files only by relative paths, so it runs there.
set -euo pipefail
version=$1
bindir=$2
output=$(realpath -m "$3")
source=$(cd "$(dirname "$0")" && pwd)/Kelvane.wxs

cd "$bindir"
wixl -a x86 -D Version="$version" -D BinDir=. -o "$output" "$source"

property() {
    msiinfo export "$output" Property | tr -d '\r' | sed -n "s/^$1\t//p"
}
upgrade_code=$(property UpgradeCode)
secure=$(property SecureCustomProperties)
[ -n "$upgrade_code" ] && [ -n "$secure" ]
# Execute="rollback" comes out as an immediate action: the defaults' undo is
# 1 (DLL) + 0x40 (ignore) + 0x100 (rollback) + 0x400 (in script) + 0x800 (no
# impersonation), the install action's undo the same with 2 (EXE from the
# Binary table) for 1. IncludeMaximum is dropped, and Attributes is part of the
# Upgrade table's key: the row is made again with 1 (migrate features) +
# 0x100 + 0x200 (both bounds inclusive), so that a rebuild of the installed
# version replaces it instead of standing beside it. wixl has no Secure="yes"
# either, and the fleet defaults must reach the elevated part of the installation
# whoever starts it.
msibuild "$output" \
    -q "UPDATE \`CustomAction\` SET \`Type\` = 3393 WHERE \`Action\` = 'UndoDefaultProfile'" \
    -q "UPDATE \`CustomAction\` SET \`Type\` = 3394 WHERE \`Action\` = 'UnregisterFailedInstall'" \
    -q "DELETE FROM \`Upgrade\` WHERE \`ActionProperty\` = 'WIX_UPGRADE_DETECTED'" \
    -q "INSERT INTO \`Upgrade\` (\`UpgradeCode\`, \`VersionMin\`, \`VersionMax\`, \`Attributes\`, \`ActionProperty\`)
        VALUES ('$upgrade_code', '0.0.0', '$version', 769, 'WIX_UPGRADE_DETECTED')" \
    -q "UPDATE \`Property\` SET \`Value\` = '$secure;DEFAULTMODE;SHOWICON' WHERE \`Property\` = 'SecureCustomProperties'"
