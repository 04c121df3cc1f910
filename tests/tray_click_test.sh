#!/bin/bash
# A real click on the mode panel of the real Kelvane.exe: the Off radio
# switches the simulated firmware and the settings file and leaves the icon
# in place; a failing firmware write leaves everything as it was.
# Usage: tray_click_test.sh WINETEST_DIR KELVANE_EXE DESKTOP_PROBE_EXE
set -u
winetest_dir=$1
kelvane=$2
kv_desktop_probe=$3
source "$winetest_dir/wine-env.sh"
source "$(dirname "$0")/../winetest/desktop.sh"

checks=0
failures=0
check() {
    local what=$1
    shift
    checks=$((checks + 1))
    if "$@"; then
        echo "ok: $what"
    else
        echo "FAILED: $what"
        failures=$((failures + 1))
    fi
}

kv_reset_machine
kv_set_machine record "01 01 00 00"
icons_before=$(kv_tray_icons)

KV_WINE_TIMEOUT=120 "$winetest_dir/wine-run" "$kelvane" >/dev/null 2>&1 &
program=$!

panel="150x130+0+0"
check "the panel opens at the top left" kv_wait 20 kv_has_window "$panel"
check "the icon is added" kv_wait 10 kv_tray_icons_are $((icons_before + 1))
# The panel closes itself 5.5 s after it opened unless pressed first (its
# timer is checked in mode_panel_tests): a closed panel is opened again.
kv_no_window "$panel" && kv_post_command 40001
check "the panel is open" kv_wait 10 kv_has_window "$panel"

# Radio rectangles of the default layout; the panel sits at (0, 0).
kv_click 100 80
check "the firmware's mobile mode byte is 0" kv_wait 10 kv_record_is "01 00 00 00"
check "the settings file says mode=off" kv_wait 10 kv_settings_are "autostart=on" "mode=off"
check "the icon stays in place" kv_tray_icons_are $((icons_before + 1))

kv_set_machine fail.casl.write "0x8004CAFE"
kv_click 50 80
check "the failure is logged" kv_wait 10 grep -q "SetKelvaneMode(): SetThermalControl() failed 0x8004CAFE" "$kv_log_file"
check "a failing write leaves the firmware" kv_record_is "01 00 00 00"
check "a failing write leaves the settings file" kv_settings_are "autostart=on" "mode=off"
check "the icon is still there" kv_tray_icons_are $((icons_before + 1))

kv_post_command 40004
wait "$program"
check "Hide ends the program with 0" test $? -eq 0
check "the icon is gone" kv_wait 10 kv_tray_icons_are "$icons_before"

kv_reset_machine
echo "$((checks - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
