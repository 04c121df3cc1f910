# Shell helpers for driving Kelvane.exe on the Wine session's X display:
# screenshots, windows, clicks and the simulated machine. Source after
# wine-env.sh and set kv_desktop_probe to desktop_probe.exe; everything runs
# under a timeout.

# Wine's user profile carries the Unix user's name.
kv_data_root="$WINEPREFIX/drive_c/users/$(id -un)/AppData/Local/Quellmark"
kv_profile_dir="$kv_data_root/Vorn Kelvane"
# Where the default settings file would lie (the 32-bit program-files folder).
kv_install_root="$WINEPREFIX/drive_c/Program Files (x86)/Quellmark"
kv_settings_file="$kv_profile_dir/Kelvane.ini"
kv_log_file="$kv_profile_dir/Kelvane.log"
kv_machine_file="$WINEPREFIX/drive_c/ProgramData/SimFirmware/machine.txt"

# kv_set_managed Y|N: whether programs started afterwards hand their windows
# to the X window manager; Wine reads the value at program start. Keys typed
# with xdotool reach only a managed window.
kv_set_managed() {
    timeout 60 wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d "$1" /f >/dev/null
}

# kv_wait SECONDS COMMAND...: runs COMMAND every 0.1 s until it succeeds.
kv_wait() {
    local tries=$(($1 * 10))
    shift
    while [ "$tries" -gt 0 ]; do
        "$@" >/dev/null 2>&1 && return 0
        sleep 0.1
        tries=$((tries - 1))
    done
    return 1
}

# The file is written by Windows programs: lines end in CR LF.
kv_record() {
    if [ -f "$kv_machine_file" ]; then
        tr -d '\r' <"$kv_machine_file" | sed -n 's/^record=//p'
    else
        echo "01 01 00 00"
    fi
}

kv_record_is() {
    [ "$(kv_record)" = "$1" ]
}

# kv_settings_are 'autostart=on' 'mode=off': the file's two lines, CR LF.
kv_settings_are() {
    [ "$(cat "$kv_settings_file" 2>/dev/null)" = "$(printf '%s\r\n%s\r' "$1" "$2")" ]
}

# kv_set_machine KEY VALUE: one line of the simulated machine.
kv_set_machine() {
    mkdir -p "$(dirname "$kv_machine_file")"
    touch "$kv_machine_file"
    sed -i "/^$1=/d" "$kv_machine_file"
    printf '%s=%s\r\n' "$1" "$2" >>"$kv_machine_file"
}

# A machine that never saw the product: firmware, data folders, default
# file, no policy.
kv_reset_machine() {
    rm -rf "$kv_machine_file" "$kv_data_root" "$kv_install_root"
    timeout 60 wine reg delete 'HKLM\SOFTWARE\Policies\Quellmark' /f /reg:64 >/dev/null 2>&1 || true
}

# Top-level X windows of Kelvane.exe as "WIDTHxHEIGHT+X+Y".
kv_windows() {
    timeout 10 xwininfo -root -tree 2>/dev/null | sed -n 's/.*("kelvane.exe" "kelvane.exe") *\([0-9x+-]*\).*/\1/p'
}

kv_has_window() {
    kv_windows | grep -qx "$1"
}

kv_no_window() {
    ! kv_windows | grep -qx "$1"
}

# desktop_probe.exe of the build, for what only Win32 can see or do.
kv_probe() {
    KV_WINE_TIMEOUT=20 "$KV_WINETEST_DIR/wine-run" "$kv_desktop_probe" "$@" 2>/dev/null | tr -d '\r'
}

# Icons in Wine's notification area (Win32 windows, invisible to X tools).
kv_tray_icons() {
    kv_probe tray-icons
}

kv_tray_icons_are() {
    [ "$(kv_tray_icons)" = "$1" ]
}

kv_post_command() {
    kv_probe post "$1"
}

kv_screenshot() {
    timeout 20 import -window root "$1"
}

# kv_same_pixels A.png B.png X Y W H: whether the two screenshots show the
# same pixels in that area.
kv_same_pixels() {
    local first second distortion
    first=$(mktemp --suffix=.png)
    second=$(mktemp --suffix=.png)
    timeout 20 convert "$1" -crop "$5x$6+$3+$4" +repage "$first"
    timeout 20 convert "$2" -crop "$5x$6+$3+$4" +repage "$second"
    distortion=$(timeout 20 compare -metric AE "$first" "$second" null: 2>&1)
    rm -f "$first" "$second"
    [ "$distortion" = 0 ]
}

# kv_click X Y [BUTTON]
kv_click() {
    timeout 10 xdotool mousemove "$1" "$2" sleep 0.2 click "${3:-1}"
}

# kv_find_image SCREEN.png PART.png X Y W H: where PART appears inside the
# given area of SCREEN, printed as "X Y" in screen pixels; fails when no place
# there comes close (a normalised RMSE above 0.1).
kv_find_image() {
    local area offset
    area=$(mktemp --suffix=.png)
    timeout 20 convert "$1" -crop "$5x$6+$3+$4" +repage "$area"
    offset=$(timeout 60 compare -metric RMSE -dissimilarity-threshold 0.1 -subimage-search "$area" "$2" null: 2>&1 |
        sed -n 's/.*@ *\([0-9]*\),\([0-9]*\).*/\1 \2/p')
    rm -f "$area"
    [ -n "$offset" ] || return 1
    set -- $offset "$3" "$4"
    echo "$(($1 + $3)) $(($2 + $4))"
}
