#!/bin/bash
# A short session with Kelvane.exe on the simulated firmware, as a person
# would have it: msiexec installs Kelvane.msi (Add/Remove Programs' entry is
# printed), the installed Kelvane.exe starts, the panel opens, the mode goes
# to Off and back to On, the About window opens through the link, its check
# box is toggled, kelvanectl reads the status and sets the mode, a Mode
# policy comes and goes, the context menu is shown and "Hide" ends the program,
# a policy is applied with no program running; the
# product is removed again, since the tests share the prefix. It runs twice:
# at 100 % display scale and at 150 % (Wine's LogPixels 144). A screenshot of
# every step goes to BUILD/screenshots (BUILD/screenshots/150 for the second
# run); the log and the settings file are printed. Ends with 0 only if every
# step had its effect.
# Usage: scripted-session.sh BUILD   (the Wine session must be running)
set -u
build=$1
source "$build/winetest/wine-env.sh"
kv_desktop_probe="$build/tests/desktop_probe.exe"
source "$(dirname "$0")/../winetest/desktop.sh"
source "$(dirname "$0")/package.sh"

shots="$build/screenshots"
rm -rf "$shots"
mkdir -p "$shots"
steps=0
failed=0

# The display scale of the session under way, and its screenshot folder.
dpi=96
session_shots=$shots

# scaled N: a 96-DPI pixel figure at the session's scale, rounded as the
# program rounds (MulDiv).
scaled() {
    echo $((($1 * dpi + 48) / 96))
}

# step NAME DESCRIPTION CHECK...: a screenshot after the check, whatever it
# gave. With $shows naming a command, the screenshot is taken again until that
# command finds on it what the step must show (10 s at most, else the step
# fails), instead of after a fixed pause.
shows=
step() {
    local name=$1 what=$2 passed=0
    shift 2
    steps=$((steps + 1))
    "$@" || passed=1
    if [ -n "$shows" ]; then
        kv_wait 10 screenshot_shows "$session_shots/$name.png" || passed=1
        shows=
    else
        sleep 0.5 # let the windows finish painting
        kv_screenshot "$session_shots/$name.png"
    fi
    if [ "$passed" -eq 0 ]; then
        echo "ok   $name: $what"
    else
        echo "FAIL $name: $what"
        failed=$((failed + 1))
    fi
}

screenshot_shows() {
    kv_screenshot "$1" && "$shows" "$1"
}

# session DPI FOLDER: the steps at that display scale, screenshots to FOLDER.
session() {
    dpi=$1
    session_shots=$2
    mkdir -p "$session_shots"
    echo "At $((dpi * 100 / 96)) % ($dpi DPI):"
    kv_reset_machine
    kv_set_machine record "01 01 00 00"

    if ! kv_install_package; then
        echo "FAIL msiexec could not install $kv_msi (log: $build/msiexec-install.log)"
        failed=$((failed + 1))
        return
    fi
    local arp_entry
    arp_entry=$(kv_print_arp_entry)
    echo "ok   msiexec installed the package; $arp_entry"

    KV_WINE_TIMEOUT=300 "$KV_WINETEST_DIR/wine-run" "$kv_installed_program" >"$build/kelvane-run.log" 2>&1 &
    program=$!

    # Under Wine the shell cannot say where the icon is, so the panel opens at
    # the top left of the screen; its radio buttons and link are where the
    # default layout puts them.
    panel="$(scaled 150)x$(scaled 130)+0+0"
    step 01-panel "the mode panel opens on start, mode On" kv_wait 30 kv_has_window "$panel"

    # What a screen reader reads in the panel, asked from another process.
    panel_reads() {
        local tree
        tree=$(kv_probe accessible VornKelvanePopup)
        grep -q '^On|radio button|.*checked' <<<"$tree" && grep -q '^Off|radio button|' <<<"$tree" &&
            grep -q '^About|link|' <<<"$tree" && grep -q '^Set by your organization|static text|read only,invisible,|' <<<"$tree"
    }
    step 01b-panel-reader "a screen reader client reads On, Off and About" kv_wait 10 panel_reads
    kv_probe accessible VornKelvanePopup | sed 's/^/     /'

    # mode_is RECORD MODE-LINE: the firmware and the settings file agree.
    mode_is() {
        kv_record_is "$1" && kv_settings_are "autostart=on" "$2"
    }
    kv_click "$(scaled 100)" "$(scaled 80)"
    step 02-mode-off "the Off radio switches the firmware and the settings file" \
        kv_wait 10 mode_is "01 00 00 00" "mode=off"

    kv_click "$(scaled 50)" "$(scaled 80)"
    step 03-mode-on "the On radio switches both back" kv_wait 10 mode_is "01 01 00 00" "mode=on"

    kv_click "$(scaled 75)" "$(scaled 108)"
    # Centred on the screen, which is the work area here.
    read -r screen_width screen_height < <(timeout 10 xwininfo -root | sed -n 's/^ *Width: //p; s/^ *Height: //p' | tr '\n' ' ')
    about_width=$(scaled 572)
    about_height=$(scaled 458)
    about_left=$(((screen_width - about_width) / 2))
    about_top=$(((screen_height - about_height) / 2))
    about="${about_width}x${about_height}+${about_left}+${about_top}"
    about_replaces_panel() {
        kv_has_window "$about" && kv_no_window "$panel"
    }
    # The check box stands left of its label, whose width depends on the font;
    # above 125 % the double-size picture is drawn, scaled down. The About
    # window is painted once the checked box is found on the screen.
    box_size=$(scaled 18)
    picture="$(dirname "$0")/../Kelvane/resources/images/check_box_checked.png"
    if [ "$dpi" -gt 120 ]; then
        picture=$(mktemp --suffix=.png)
        timeout 20 convert "$(dirname "$0")/../Kelvane/resources/images/check_box_checked_2x.png" \
            -resize "${box_size}x${box_size}" "$picture"
    fi
    box=
    checked_box_shown() {
        box=$(kv_find_image "$1" "$picture" "$about_left" $((about_top + $(scaled 415))) "$about_width" "$(scaled 40)")
    }
    shows=checked_box_shown
    step 04-about "the link opens the About window, centred, its check box checked; the panel closes" \
        kv_wait 10 about_replaces_panel
    [ "$dpi" -gt 120 ] && rm -f "$picture"

    # The click's effect: the start-up flag in the file, and the box drawn anew.
    box_changed() {
        [ -n "$box" ] && ! kv_same_pixels "$session_shots/04-about.png" "$1" $box "$box_size" "$box_size"
    }
    if [ -n "$box" ]; then
        set -- $box
        kv_click $(($1 + box_size / 2)) $(($2 + box_size / 2))
    fi
    shows=box_changed
    step 05-check-box "the check box clears the start-up flag and is drawn cleared" \
        kv_wait 10 kv_settings_are "autostart=off" "mode=on"

    about_reads() {
        local tree
        tree=$(kv_probe accessible VornKelvaneAbout)
        grep -q '^About Vorn Kelvane|static text|read only,||$' <<<"$tree" && grep -q '^Show Vorn Kelvane icon on Startup|check button|focused,focusable,|Check|$' <<<"$tree" &&
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
    for point in "$(scaled 5),$(scaled 60)" "$((about_left + 5)),$((about_top + $(scaled 200)))"; do
        colour=$(timeout 20 convert "$session_shots/05b-high-contrast.png" -format "%[pixel:p{$point}]" info: 2>/dev/null)
        case "$colour" in
        black | "srgb(0,0,0)") ;;
        *) echo "FAIL 05b-high-contrast: pixel $point is $colour"; failed=$((failed + 1)) ;;
        esac
    done
    wait "$viewer"

    # The command line installed beside the program, in the same session.
    kelvanectl() {
        KV_WINE_TIMEOUT=30 "$KV_WINETEST_DIR/wine-run" "${kv_installed_program%\\*}\\kelvanectl.exe" "$@" 2>&1
    }
    status_text=$(kelvanectl status)
    status_json=$(kelvanectl status --json)
    echo "     kelvanectl status:"
    sed 's/^/       /' <<<"$status_text"
    echo "     kelvanectl status --json:"
    echo "       $status_json"
    step 05c-kelvanectl-status "kelvanectl status sees mode On, no policy, the cleared start-up flag and the running program" \
        test "$status_text" = $'mode: on\npolicy: none\nshow icon at startup: no\ntray program: running\ntray program sessions: 1' \
        -a "$status_json" = '{"mode":"on","policy":null,"showIcon":false,"showIconPolicy":null,"trayRunning":true,"traySessions":[1]}'
    kelvanectl set off >/dev/null
    step 05d-kelvanectl-set "kelvanectl set off reaches the firmware and the settings file" \
        kv_wait 10 kv_settings_are "autostart=off" "mode=off"
    kv_record_is "01 00 00 00" || { echo "FAIL 05d-kelvanectl-set: firmware record $(kv_record)"; failed=$((failed + 1)); }
    kelvanectl set on >/dev/null

    # An administrator's Mode policy, set while the program runs: enforced at
    # once; the panel shows the mode with its radios unavailable and the line
    # under them. Lifted, the user's own mode (On) comes back.
    policy_key='HKLM\SOFTWARE\Policies\Quellmark\Vorn Kelvane'
    timeout 60 wine reg add "$policy_key" /v Mode /t REG_SZ /d off /f /reg:64 >/dev/null 2>&1
    kv_wait 10 kv_record_is "01 00 00 00"
    kv_post_command 40001 >/dev/null
    policy_panel="$(scaled 150)x$(scaled 160)+0+0"
    policy_panel_reads() {
        local tree
        tree=$(kv_probe accessible VornKelvanePopup)
        kv_has_window "$policy_panel" && kv_record_is "01 00 00 00" &&
            grep -q '^On|radio button|unavailable.*|Set by your organization$' <<<"$tree" &&
            grep -q '^Off|radio button|unavailable,.*checked.*|Set by your organization$' <<<"$tree" &&
            grep -q '^Set by your organization|static text|read only,|' <<<"$tree"
    }
    step 05e-policy "a Mode policy set while the program runs is enforced; the radios are unavailable and say why" \
        kv_wait 10 policy_panel_reads
    kv_probe accessible VornKelvanePopup | sed 's/^/     /'
    timeout 60 wine reg delete 'HKLM\SOFTWARE\Policies\Quellmark' /f /reg:64 >/dev/null 2>&1
    step 05f-policy-lifted "the lifted policy gives the user's mode back" kv_wait 10 kv_record_is "01 01 00 00"
    kv_wait 10 kv_no_window "$panel"

    # The first icon of Wine's notification area; the menu is the window that
    # was not there before the click.
    before_menu=$(kv_windows)
    timeout 10 xdotool mousemove 13 32 sleep 0.2 click 3
    menu_geometry() {
        kv_windows | grep -v -x -F -e "$about" -e "$panel" -e "1x1+0+0" -e "$before_menu" | head -n 1
    }
    menu_shown() {
        [ -n "$(menu_geometry)" ]
    }
    step 06-context-menu "a right click on the icon shows the menu" kv_wait 10 menu_shown

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

    # With no tray program left, what the package's apply-policy task runs
    # brings the firmware to the enforced mode; set with that mode applies
    # it, the other is refused.
    timeout 60 wine reg add "$policy_key" /v Mode /t REG_SZ /d off /f /reg:64 >/dev/null 2>&1
    applied=$(kelvanectl apply-policy)
    record_applied=$(kv_record)
    kelvanectl set off >/dev/null
    set_same=$?
    kelvanectl set on >/dev/null
    set_other=$?
    installed_version=$(kelvanectl version)
    timeout 60 wine reg delete 'HKLM\SOFTWARE\Policies\Quellmark' /f /reg:64 >/dev/null 2>&1
    echo "     apply-policy: $applied, firmware $record_applied; set off: $set_same, set on: $set_other; version: $installed_version"
    step 08-policy-without-tray "without a tray program apply-policy enforces Mode=off; set off exits 0, set on 3" \
        test "$applied" = off -a "$record_applied" = "01 00 00 00" -a "$set_same" -eq 0 -a "$set_other" -eq 3 \
        -a -n "$installed_version"

    echo
    echo "Screenshots in $session_shots:"
    ls -1 "$session_shots"/*.png
    echo
    echo "Kelvane.log:"
    tr -d '\r' <"$kv_log_file" 2>/dev/null | sed 's/^/    /'
    echo "Kelvane.ini:"
    tr -d '\r' <"$kv_settings_file" 2>/dev/null | sed 's/^/    /'
    echo "Firmware record: $(kv_record)"
    echo "$arp_entry"
    kv_remove_package || { echo "FAIL msiexec could not remove the package (log: $build/msiexec-remove.log)"; failed=$((failed + 1)); }
    echo
}

# Wine reads the display scale at each program's start.
set_display_scale() {
    if [ "$1" -eq 96 ]; then
        timeout 60 wine reg delete 'HKCU\Control Panel\Desktop' /v LogPixels /f >/dev/null 2>&1
    else
        timeout 60 wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null
    fi
}

set_display_scale 96
session 96 "$shots"
set_display_scale 144
session 144 "$shots/150"
set_display_scale 96

echo
echo "$((steps - failed)) passed, $failed failed"
[ "$failed" -eq 0 ]
