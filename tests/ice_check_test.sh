#!/bin/bash
# installer/ice_check.py over the built package (every rule passes), then
# over broken copies, one a rule (made with msibuild): that rule must fail.
# Usage: ice_check_test.sh KELVANE.msi PROGRAM-FOLDER
set -u
msi=$1 programs=$2
checker=$(cd "$(dirname "$0")/../installer" && pwd)/ice_check.py
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failed=0

if output=$(python3 "$checker" "$msi" "$programs"); then
    echo "$output"
else
    echo "$output"
    echo "FAIL the built package does not pass"
    failed=$((failed + 1))
fi

directory="INSERT INTO \`Directory\` (\`Directory\`, \`Directory_Parent\`, \`DefaultDir\`) VALUES"
profile_folder="$directory ('LocalAppDataFolder', 'TARGETDIR', '.')"
user_folder="$directory ('UserData', 'LocalAppDataFolder', 'Kelvane')"
seq() { echo "UPDATE \`InstallExecuteSequence\` SET \`Sequence\` = $2 WHERE \`Action\` = '$1'"; }
# One broken copy: exit 0 when its rule fails on it, with the finding.
check_copy() {
    local rule=$1 queries=$2 copy=$scratch/$1.msi args=() result
    cp "$msi" "$copy"
    while [ -n "$queries" ]; do
        args+=(-q "${queries%%;;*}")
        [ "$queries" = "${queries#*;;}" ] && queries= || queries=${queries#*;;}
    done
    if ! msibuild "$copy" "${args[@]}" >/dev/null 2>&1; then
        echo "FAIL $rule: the broken copy could not be made"
        return 1
    fi
    result=$(python3 "$checker" "$copy" "$programs")
    if [ $? -eq 1 ] && echo "$result" | grep -q "^FAIL $rule:"; then
        echo "ok   $rule fails on its broken copy:$(echo "$result" | grep -m1 "^     $rule:" | sed "s/^ *$rule://")"
    else
        echo "FAIL $rule passes its broken copy:"
        echo "$result" | grep -v '^ok'
        return 1
    fi
}

# rule | queries that break it, separated by ";;". All copies at once: each
# run mostly waits for msiinfo.
rules=()
while IFS='|' read -r rule queries; do
    rules+=("$rule")
    (check_copy "$rule" "$queries" >"$scratch/$rule.out"; echo $? >"$scratch/$rule.status") &
done <<CASES
ICE03|UPDATE \`Component\` SET \`ComponentId\` = '{228cbbfa-abc7-4ffe-9e23-5d0fc5b204bd}' WHERE \`Component\` = 'KelvaneProgram'
ICE06|DROP TABLE \`LaunchCondition\`;;CREATE TABLE \`LaunchCondition\` (\`Condition\` CHAR(255) NOT NULL PRIMARY KEY \`Condition\`)
ICE24|UPDATE \`Property\` SET \`Value\` = '256.2' WHERE \`Property\` = 'ProductVersion'
ICE27|$(seq CostFinalize 1450)
ICE38|$profile_folder;;$user_folder;;UPDATE \`Component\` SET \`Directory_\` = 'UserData' WHERE \`Component\` = 'KelvaneProgram'
ICE43|$profile_folder;;$user_folder;;INSERT INTO \`Shortcut\` (\`Shortcut\`, \`Directory_\`, \`Name\`, \`Component_\`, \`Target\`) VALUES ('Kelvane', 'UserData', 'Kelvane', 'KelvaneProgram', '[#KelvaneExe]')
ICE57|INSERT INTO \`Registry\` (\`Registry\`, \`Root\`, \`Key\`, \`Name\`, \`Value\`, \`Component_\`) VALUES ('Choice', 1, 'Software\\Quellmark', 'mode', '1', 'KelvaneProgram')
ICE60|INSERT INTO \`MsiFileHash\` (\`File_\`, \`Options\`, \`HashPart1\`, \`HashPart2\`, \`HashPart3\`, \`HashPart4\`) VALUES ('KelvaneExe', 0, 1, 2, 3, 4)
ICE61|DELETE FROM \`Upgrade\` WHERE \`ActionProperty\` = 'WIX_UPGRADE_DETECTED';;INSERT INTO \`Upgrade\` (\`UpgradeCode\`, \`VersionMin\`, \`VersionMax\`, \`Attributes\`, \`ActionProperty\`) VALUES ('{FFF75CDF-1481-458A-8FDF-7ABA453C46AC}', '0.0.0', '$(msiinfo export "$msi" Property | tr -d '\r' | sed -n 's/^ProductVersion\t//p')', 769, 'WIX_UPGRADE_DETECTED')
ICE63|$(seq RemoveExistingProducts 3501)
ICE64|$profile_folder;;$user_folder
ICE68|UPDATE \`CustomAction\` SET \`Type\` = 2113 WHERE \`Action\` = 'FindReplacingProduct'
ICE77|$(seq RegisterKelvane 1450)
ICE82|$(seq UndoDefaultProfile 4003)
FileVersions|UPDATE \`File\` SET \`Version\` = '2.1.0.0' WHERE \`File\` = 'KvInstallActionExe'
CASES
wait
for rule in "${rules[@]}"; do
    cat "$scratch/$rule.out"
    [ "$(cat "$scratch/$rule.status")" = 0 ] || failed=$((failed + 1))
done
[ "$failed" -eq 0 ]
