#!/bin/bash
# The run command: installs what is missing, builds everything, prepares the
# Wine prefix with the simulated firmware, installs Kelvane.msi with msiexec
# and starts Kelvane.exe from where the package put it.
#   With a display ($DISPLAY reachable) the program stays up for a person to
#   use; it ends with its menu's "Hide".
#   Without one (or with KV_SCRIPTED=1) a short scripted session runs under
#   Xvfb and saves a screenshot of each step into build/screenshots.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${KV_BUILD_DIR:-$root/build}

bash "$root/scripts/install-deps.sh"
bash "$root/scripts/build.sh"

winetest_dir="$build/winetest"
doubles=("$build/doubles/simfirmware.dll" "$build/doubles/simtaskscheduler.dll")
source "$winetest_dir/wine-env.sh"
# A fresh session, so that no earlier run's desktop is left on another display.
timeout 30 wineserver -k 2>/dev/null || true

if [ -z "${KV_SCRIPTED:-}" ] && [ -n "${DISPLAY:-}" ] && timeout 5 xdpyinfo >/dev/null 2>&1; then
    KV_DISPLAY=$DISPLAY bash "$root/winetest/start-session.sh" "$winetest_dir" "${doubles[@]}"
    source "$root/scripts/package.sh"
    if ! kv_install_package; then
        echo "msiexec could not install $kv_msi (log: $build/msiexec-install.log)"
        exit 1
    fi
    kv_print_arp_entry
    echo "Kelvane runs on the simulated firmware ($WINEPREFIX/drive_c/ProgramData/SimFirmware/machine.txt)."
    echo "Left-click its icon for the mode panel, right-click for the menu; \"Hide\" ends it."
    KV_WINE_TIMEOUT=86400 "$winetest_dir/wine-run" "$kv_installed_program"
    status=$?
    # The test prefix is shared with the tests: the product goes again.
    kv_remove_package || true
    timeout 30 wineserver -k 2>/dev/null || true
    exit $status
fi

bash "$root/winetest/start-session.sh" "$winetest_dir" "${doubles[@]}"
status=0
bash "$root/scripts/scripted-session.sh" "$build" || status=$?
bash "$root/winetest/stop-session.sh" "$winetest_dir"
exit $status
