#!/bin/bash
# The tables of Kelvane.msi that decide what runs when, read back with
# msiinfo: wixl orders custom actions by its own rules and drops some
# attributes, so the built package itself is checked. Then the imports of the
# programs packed beside it (installer/bin): none newer than Windows 7.
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
# Binary table; 3393: rollback DLL entry; 3073: deferred DLL entry, no
# impersonation, checked.
expect_row CustomAction \
    "RegisterKelvane${tab}3090${tab}KvInstallActionExe${tab}-install ui=[InstallingUiLevel] session=[InstallingSession] policytask${tab}"
expect_row CustomAction "UnregisterKelvane${tab}3154${tab}KvInstallActionExe${tab}-uninstall${tab}"
expect_row CustomAction "UnregisterFailedInstall${tab}3394${tab}InstallActionForRollback${tab}-uninstall rollback${tab}"
expect_row CustomAction "RestoreReplacedRegistration${tab}3394${tab}InstallActionForRollback${tab}-install rollback${tab}"
expect_row CustomAction "RestoreRegistration${tab}3394${tab}InstallActionForRollback${tab}-install rollback policytask${tab}"
expect_row CustomAction "UndoDefaultProfile${tab}3393${tab}PackageActions${tab}ApplyDefaultProfile${tab}"
expect_row CustomAction "RemoveDefaultProfile${tab}3073${tab}PackageActions${tab}ApplyDefaultProfile${tab}"
# 3137: deferred DLL entry, no impersonation, result ignored (HKLM is
# written); 3393 its rollback twin; 65: immediate DLL entry, ignored.
expect_row CustomAction "CreateEndRequestKey${tab}3137${tab}PackageActions${tab}CreateEndRequestKey${tab}"
expect_row CustomAction "DeleteEndRequestKey${tab}3137${tab}PackageActions${tab}DeleteEndRequestKey${tab}"
expect_row CustomAction "RestoreEndRequestKey${tab}3393${tab}PackageActions${tab}CreateEndRequestKey${tab}"
real_removal='REMOVE~="ALL" AND NOT UPGRADINGPRODUCTCODE AND NOT REPLACINGPRODUCT'
for row in "RegisterKelvane${tab}NOT Installed" "WriteDefaultProfile${tab}NOT Installed" \
    "UndoDefaultProfile${tab}NOT Installed" "PrepareRegistration${tab}NOT Installed" \
    "UnregisterFailedInstall${tab}NOT Installed AND NOT WIX_UPGRADE_DETECTED" \
    "RestoreReplacedRegistration${tab}NOT Installed AND WIX_UPGRADE_DETECTED" \
    "RestoreRegistration${tab}$real_removal" "UnregisterKelvane${tab}$real_removal" \
    "RemoveDefaultProfile${tab}$real_removal" "DeleteEndRequestKey${tab}$real_removal" \
    "RestoreEndRequestKey${tab}$real_removal" "CreateEndRequestKey${tab}NOT Installed"; do
    expect_row InstallExecuteSequence "$row${tab}$(sequence_of "${row%%$tab*}")"
done
# The package ends and restarts the tray programs itself: the Restart
# Manager stays out (it cannot reach other sessions as LocalSystem), and
# nothing restarts the machine.
expect_row Property "MSIRESTARTMANAGERCONTROL${tab}Disable"
if table Property | grep -q '^MSIRMSHUTDOWN'; then
    echo "FAIL Property: MSIRMSHUTDOWN is set"
    failed=$((failed + 1))
fi
expect_row Property "REBOOT${tab}ReallySuppress"
upgrade_code=$(table Property | sed -n 's/^UpgradeCode\t//p')
expect_row Upgrade "${upgrade_code}${tab}0.0.0${tab}$(table Property | sed -n 's/^ProductVersion\t//p')${tab}${tab}257${tab}${tab}WIX_UPGRADE_DETECTED"
expect_row Property "SecureCustomProperties${tab}WIX_UPGRADE_DETECTED;WIX_DOWNGRADE_DETECTED;DEFAULTMODE;SHOWICON"
# The event source: a name without "\\" under the Application log, created
# with its own component and deleted whole on removal ("*" without a value);
# EventMessageFile is REG_SZ (no "#" prefix) naming the installed Kelvane.exe,
# TypesSupported REG_DWORD (#) error, warning and information (1 + 2 + 4).
source_key='SYSTEM\CurrentControlSet\Services\EventLog\Application\Vorn Kelvane'
expect_row Registry "EventSourceKey${tab}2${tab}${source_key}${tab}*${tab}${tab}EventSource"
expect_row Registry "EventMessageFile${tab}2${tab}${source_key}${tab}EventMessageFile${tab}[INSTALLFOLDER]Kelvane.exe${tab}EventSource"
expect_row Registry "EventTypesSupported${tab}2${tab}${source_key}${tab}TypesSupported${tab}#7${tab}EventSource"
if i686-w64-mingw32-windres -i "$(dirname "$msi")/bin/Kelvane.exe" -O rc 2>/dev/null | grep -q MESSAGETABLE; then
    echo "ok   Kelvane.exe holds a message table"
else
    echo "FAIL Kelvane.exe holds no message table"
    failed=$((failed + 1))
fi
expect_order CostFinalize PrepareDefaultProfile PrepareRegistration EndRunningKelvane InstallValidate \
    InstallInitialize RestoreEndRequestKey DeleteEndRequestKey RestoreRegistration UnregisterKelvane \
    RemoveDefaultProfile RemoveFiles \
    RestoreReplacedRegistration InstallFiles UnregisterFailedInstall RegisterKelvane UndoDefaultProfile \
    WriteDefaultProfile CreateEndRequestKey InstallFinalize MarkReplacedProduct RemoveExistingProducts \
    ClearReplacedProduct StartKelvaneForUser

# Imported functions that Windows 7 SP1 without updates lacks (Windows 8 and
# later, or KB2533623): each must be looked up at run time.
newer_than_7='SetDefaultDllDirectories AddDllDirectory RemoveDllDirectory GetDpiForWindow GetDpiForSystem
GetDpiForMonitor SetProcessDpiAwareness SetProcessDpiAwarenessContext SetThreadDpiAwarenessContext
GetThreadDpiAwarenessContext GetSystemMetricsForDpi AdjustWindowRectExForDpi SystemParametersInfoForDpi
EnableNonClientDpiScaling GetSystemTimePreciseAsFileTime CreateFile2 GetCurrentPackageFullName
GetCurrentPackageId SetThreadDescription GetThreadDescription WaitOnAddress WakeByAddressSingle
CoIncrementMTAUsage GetOverlappedResultEx SetProcessMitigationPolicy GetProcessMitigationPolicy
PrefetchVirtualMemory RoInitialize PathCchCombine PathCchAppend GetPointerType'
programs=$(dirname "$msi")/bin
for program in "$programs"/*.exe "$programs"/*.dll; do
    imports=$(i686-w64-mingw32-objdump -p "$program" |
        awk '/DLL Name:/ { dll = $3; next } dll != "" && NF == 3 && $2 ~ /^[0-9]+$/ { print dll ":" $3 }')
    late=$(echo "$imports" | grep -iE '^(api|ext)-ms-win' ;
        for name in $newer_than_7; do echo "$imports" | grep -E ":$name\$"; done)
    if [ -z "$imports" ]; then
        echo "FAIL $(basename "$program"): no imports read"
        failed=$((failed + 1))
    elif [ -n "$late" ]; then
        echo "FAIL $(basename "$program") imports what Windows 7 lacks:" $late
        failed=$((failed + 1))
    else
        echo "ok   $(basename "$program"): $(echo "$imports" | wc -l) imports, none newer than Windows 7"
    fi
done

[ "$failed" -eq 0 ]
