#!/bin/bash
# The tables of Kelvane.msi that decide what runs when, read back with
# msiinfo: wixl orders custom actions by its own rules and drops some
# attributes, so the built package itself is checked.
# Usage: package_tables_test.sh KELVANE.msi
set -u
msi=$1
failed=0

table() {
    msiinfo export "$msi" "$1" | tr -d '\r'
}

expect_row() {
    local name=$1 row=$2
    if table "$name" | grep -qxF "$row"; then
        echo "ok   $name: $row"
    else
        echo "FAIL $name: no row \"$row\""
        failed=$((failed + 1))
    fi
}

sequence_of() {
    table InstallExecuteSequence | awk -F'\t' -v a="$1" '$1 == a { print $3 }'
}

expect_order() {
    local previous=$1 next
    shift
    for next in "$@"; do
        if [ "$(sequence_of "$previous")" -lt "$(sequence_of "$next")" ] 2>/dev/null; then
            echo "ok   $previous before $next"
        else
            echo "FAIL $previous ($(sequence_of "$previous")) not before $next ($(sequence_of "$next"))"
            failed=$((failed + 1))
        fi
        previous=$next
    done
}

tab=$'\t'
# 3090: EXE by file key, deferred, no impersonation, exit code checked;
# 3154: the same with the exit code ignored; 3394: rollback EXE from the
# Binary table; 3393: rollback DLL entry.
expect_row CustomAction "RegisterKelvane${tab}3090${tab}KvInstallActionExe${tab}-install ui=[UILevel]${tab}"
expect_row CustomAction "UnregisterKelvane${tab}3154${tab}KvInstallActionExe${tab}-uninstall${tab}"
expect_row CustomAction "UnregisterFailedInstall${tab}3394${tab}InstallActionForRollback${tab}-uninstall rollback${tab}"
expect_row CustomAction "UndoDefaultProfile${tab}3393${tab}PackageActions${tab}ApplyDefaultProfile${tab}"
expect_row InstallExecuteSequence "RegisterKelvane${tab}NOT Installed${tab}$(sequence_of RegisterKelvane)"
expect_row InstallExecuteSequence \
    "UnregisterKelvane${tab}REMOVE~=\"ALL\" AND NOT UPGRADINGPRODUCTCODE AND NOT REPLACINGPRODUCT${tab}$(sequence_of UnregisterKelvane)"
upgrade_code=$(table Property | sed -n 's/^UpgradeCode\t//p')
expect_row Upgrade "${upgrade_code}${tab}0.0.0${tab}$(table Property | sed -n 's/^ProductVersion\t//p')${tab}${tab}769${tab}${tab}WIX_UPGRADE_DETECTED"
expect_row Property "SecureCustomProperties${tab}WIX_UPGRADE_DETECTED;WIX_DOWNGRADE_DETECTED;DEFAULTMODE;SHOWICON"
expect_order PrepareDefaultProfile EndRunningKelvane InstallValidate MarkReplacedProducts RemoveExistingProducts \
    ForgetReplacedProducts InstallInitialize UnregisterKelvane RemoveDefaultProfile RemoveFiles InstallFiles \
    UnregisterFailedInstall RegisterKelvane UndoDefaultProfile WriteDefaultProfile InstallFinalize StartKelvaneForUser

[ "$failed" -eq 0 ]
