#!/bin/bash
# A short session with Kelvane.exe on the simulated firmware, as a person
# would have it: the panel opens, the mode goes to Off and back to On, the
# About window opens through the link, its check box is toggled, the context
# menu is shown and "Hide" ends the program. A screenshot of every step goes
# to BUILD/screenshots; the log and the settings file are printed. Ends with
# 0 only if every step had its effect.
# Usage: scripted-session.sh BUILD   (the Wine session must be running)
set -u
build=$1
source "$build/winetest/wine-env.sh"
kv_desktop_probe="$build/tests/desktop_probe.exe"
source "$(dirname "$0")/../winetest/desktop.sh"

shots="$build/screenshots"
rm -rf "$shots"
mkdir -p "$shots"
steps=0
failed=0

# step NAME DESCRIPTION CHECK...: screenshot after the check, whatever it gave.
step() {
    local name=$1 what=$2
    shift 2
    steps=$((steps + 1))
    if "$@"; then
        echo "ok   $name: $what"
    else
        echo "FAIL $name: $what"
        failed=$((failed + 1))
    fi
    sleep 0.5 # let the windows finish painting
    kv_screenshot "$shots/$name.png"
}

kv_reset_machine
kv_set_machine record "01 01 00 00"

KV_WINE_TIMEOUT=300 "$KV_WINETEST_DIR/wine-run" "$build/Kelvane/Kelvane.exe" >"$build/kelvane-run.log" 2>&1 &
program=$!

# Under Wine the shell cannot say where the icon is, so the panel opens at
# the top left of the screen; its radio buttons and link are where the
# default layout puts them.
panel="150x130+0+0"
step 01-panel "the mode panel opens on start, mode On" kv_wait 30 kv_has_window "$panel"

# What a screen reader reads in the panel, asked from another process.
panel_reads() {
    local tree
    tree=$(kv_probe accessible VornKelvanePopup)
    grep -q '^On|radio button|.*checked' <<<"$tree" && grep -q '^Off|radio button|' <<<"$tree" &&
        grep -q '^About|link|' <<<"$tree"
}
step 01b-panel-reader "a screen reader client reads On, Off and About" kv_wait 10 panel_reads
kv_probe accessible VornKelvanePopup | sed 's/^/     /'

kv_click 100 80
step 02-mode-off "the Off radio switches the firmware and the settings file" \
    kv_wait 10 kv_record_is "01 00 00 00"
kv_wait 5 kv_settings_are "autostart=on" "mode=off" || { echo "     settings file: $(tr -d '\r' <"$kv_settings_file" | tr '\n' ' ')"; failed=$((failed + 1)); }

kv_click 50 80
step 03-mode-on "the On radio switches back" kv_wait 10 kv_record_is "01 01 00 00"
kv_wait 5 kv_settings_are "autostart=on" "mode=on" || failed=$((failed + 1))

kv_click 75 108
about="572x458+226+155"
about_replaces_panel() {
    kv_has_window "$about" && kv_no_window "$panel"
}
step 04-about "the link opens the About window, centred; the panel closes" kv_wait 10 about_replaces_panel

# The check box stands left of its label, whose width depends on the font.
box=$(kv_find_image "$shots/04-about.png" "$(dirname "$0")/../Kelvane/resources/images/check_box_checked.png" \
    226 570 572 40 || true)
if [ -n "$box" ]; then
    set -- $box
    kv_click $(($1 + 9)) $(($2 + 9))
fi
step 05-check-box "the check box clears the start-up flag" kv_wait 10 kv_settings_are "autostart=off" "mode=on"

about_reads() {
    local tree
    tree=$(kv_probe accessible VornKelvaneAbout)
    grep -q '^About Vorn Kelvane|static text|read only,|$' <<<"$tree" && grep -q '^Show Vorn Kelvane icon on Startup|check button|focused,focusable,|Check$' <<<"$tree" &&
        grep -q '^Minimize|push button|' <<<"$tree" && grep -q '^Close|push button|' <<<"$tree"
}
step 05a-about-reader "a screen reader client reads the About window: check box cleared and focused by the click" kv_wait 10 about_reads
kv_probe accessible VornKelvaneAbout | cut -c1-100 | sed 's/^/     /'

# High contrast: Wine 8 keeps no such switch for a program to read, so a
# viewer built from the same drawing code switches it inside its own
# process and shows the panel and the About window for a few seconds.
KV_WINE_TIMEOUT=60 "$KV_WINETEST_DIR/wine-run" "$build/tests/high_contrast_view.exe" 8 >/dev/null 2>&1 &
viewer=$!
viewer_shows_both() {
    local windows
    windows=$(timeout 10 xwininfo -root -tree 2>/dev/null | sed -n 's/.*("high_contrast_view.exe" "high_contrast_view.exe") *\([0-9x+-]*\).*/\1/p')
    grep -qx "$panel" <<<"$windows" && grep -qx "$about" <<<"$windows"
}
step 05b-high-contrast "the panel and the About window in the system colours" kv_wait 30 viewer_shows_both
# The panel's background and the About window's are the window colour of
# "High Contrast Black".
for point in 5,60 231,355; do
    colour=$(timeout 20 convert "$shots/05b-high-contrast.png" -format "%[pixel:p{$point}]" info: 2>/dev/null)
    case "$colour" in
    black | "srgb(0,0,0)") ;;
    *) echo "FAIL 05b-high-contrast: pixel $point is $colour"; failed=$((failed + 1)) ;;
    esac
done
wait "$viewer"

# The first icon of Wine's notification area.
timeout 10 xdotool mousemove 13 32 sleep 0.2 click 3
menu_geometry() {
    kv_windows | grep -v -x -e "$about" -e "$panel" -e "242x173+4+23" -e "1x1+0+0" | head -n 1
}
step 06-context-menu "a right click on the icon shows the menu" kv_wait 10 test -n "$(menu_geometry)"

geometry=$(menu_geometry)
if [ -n "$geometry" ]; then
    # WIDTHxHEIGHT+X+Y: "Hide" is the last of four items.
    IFS='x+' read -r width height left top <<<"$geometry"
    item=$(((height - 6) / 4))
    kv_click $((left + width / 2)) $((top + height - 3 - item / 2))
fi
exited=1
kv_wait 15 test ! -d "/proc/$program" && exited=0
wait "$program" 2>/dev/null
code=$?
step 07-hidden "\"Hide\" ends the program with exit code 0" test "$exited" -eq 0 -a "$code" -eq 0

echo
echo "Screenshots in $shots:"
ls -1 "$shots"
echo
echo "Kelvane.log:"
tr -d '\r' <"$kv_log_file" 2>/dev/null | sed 's/^/    /'
echo "Kelvane.ini:"
tr -d '\r' <"$kv_settings_file" 2>/dev/null | sed 's/^/    /'
echo "Firmware record: $(kv_record)"
echo
echo "$((steps - failed)) passed, $failed failed"
[ "$failed" -eq 0 ]
