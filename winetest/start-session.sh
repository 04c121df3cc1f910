#!/bin/bash
# Prepares the test prefix and starts what the whole run shares: one Xvfb
# display and one persistent wineserver, for each lane of tests.
# Usage: start-session.sh WINETEST_DIR DOUBLE_DLL...
#   KV_LANES   how many lanes (default 1: lane KV_LANE, or 0)
set -euo pipefail
winetest_dir=$1
shift
double_dlls=("$@")
harness_dir=$(dirname "$0")
source "$winetest_dir/wine-env.sh"
source "$harness_dir/desktop.sh"

start_display() {
    # A person's own display, for the run command.
    if [ -n "${KV_DISPLAY:-}" ]; then
        echo "$KV_DISPLAY" >"$KV_LANE_DIR/display"
        return
    fi
    if [ -f "$KV_LANE_DIR/xvfb.pid" ] && kill -0 "$(cat "$KV_LANE_DIR/xvfb.pid")" 2>/dev/null; then
        return
    fi
    local number=90
    while [ -e "/tmp/.X11-unix/X$number" ] || [ -e "/tmp/.X$number-lock" ]; do
        number=$((number + 1))
    done
    Xvfb ":$number" -screen 0 1024x768x24 -nolisten tcp >"$KV_LANE_DIR/xvfb.log" 2>&1 &
    echo $! >"$KV_LANE_DIR/xvfb.pid"
    for _ in $(seq 50); do
        [ -e "/tmp/.X11-unix/X$number" ] && break
        sleep 0.1
    done
    echo ":$number" >"$KV_LANE_DIR/display"
}

# Wine takes the user's UI language from the locale, and only from a glibc
# locale that exists: the language tests get theirs from this folder
# (LOCPATH), so that the machine's own locales do not matter.
# They are made side by side; localedef may warn and still make the locale,
# so what counts is the file it leaves.
make_locales() {
    local dir="$winetest_dir/locales" name
    local names=(de_DE he_IL ar_SA pt_BR pt_PT zh_TW en_US ja_JP zh_CN ko_KR)
    mkdir -p "$dir"
    for name in "${names[@]}"; do
        [ -f "$dir/$name.UTF-8/LC_MESSAGES/SYS_LC_MESSAGES" ] ||
            localedef -i "$name" -f UTF-8 "$dir/$name.UTF-8" &
    done
    wait
    for name in "${names[@]}"; do
        [ -f "$dir/$name.UTF-8/LC_MESSAGES/SYS_LC_MESSAGES" ] || { echo "no locale $name"; return 1; }
    done
}

# A new prefix is made once; further lanes get a copy of it while it is
# still fresh (about 4 s instead of 25 s), its wineserver ended so that the
# registry is on disk.
make_prefix() {
    local fresh=$1
    rm -rf "$WINEPREFIX"
    if [ -n "$fresh" ]; then
        cp -a "$fresh" "$WINEPREFIX"
        return
    fi
    timeout 240 wineboot -i
    # A crash must end the program at once instead of waiting in winedbg.
    timeout 60 wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f
    timeout 30 wineserver -k || true
    timeout 60 wineserver -w || true
    touch "$WINEPREFIX/.kv-prefix-ready"
    fresh_prefix=$WINEPREFIX
}

start_wine() {
    mkdir -p "$KV_LANE_DIR"
    # A display of our own, so that tests never draw on the user's screen.
    start_display
    export DISPLAY
    DISPLAY=$(cat "$KV_LANE_DIR/display")

    [ -f "$WINEPREFIX/.kv-prefix-ready" ] || make_prefix "$fresh_prefix"

    # One warm wineserver for the run; if the run is cut short it ends by
    # itself a minute after the last program.
    wineserver -p60

    # Without a window manager Wine waits about 2 s for every hide or destroy
    # of a managed window; unmanaged windows skip the wait. A person's own
    # display has a window manager, and typed keys reach only managed windows.
    # The session's own processes (the desktop and its notification area,
    # which wineboot starts) read the value when they start: after a change
    # they start again.
    local managed=N
    [ -n "${KV_DISPLAY:-}" ] && managed=Y
    if ! timeout 60 wine reg query 'HKCU\Software\Wine\X11 Driver' /v Managed 2>/dev/null | grep -q "REG_SZ *$managed"; then
        kv_set_managed "$managed"
        timeout 30 wineserver -k || true
        wineserver -p60
    fi

    # Registered on every run, so that the prefix follows the build. This also
    # brings up the session's own processes before the first test.
    for dll in "${double_dlls[@]}"; do
        timeout 60 wine regsvr32 /s "$(winepath -w "$dll")"
    done

    # Wine ends the desktop process about a second after the last program
    # that uses it; the next program starts it again and hands it its own
    # output handles, which CTest then waits on (a second for every test
    # that opens a window). A keeper holds the desktop for the whole run.
    if [ -n "${KV_SESSION_KEEPER:-}" ] &&
        ! { [ -f "$KV_LANE_DIR/keeper.pid" ] && kill -0 "$(cat "$KV_LANE_DIR/keeper.pid")" 2>/dev/null; }; then
        timeout 7200 wine "$KV_SESSION_KEEPER" </dev/null >/dev/null 2>&1 &
        echo $! >"$KV_LANE_DIR/keeper.pid"
    fi
}

# Wine's session processes outlive this script: none of them may hold on to
# CTest's output pipe, so everything started here writes to the log.
start_lane() {
    export KV_LANE=$1
    source "$winetest_dir/wine-env.sh"
    source "$harness_dir/desktop.sh"
    local log="$KV_LANE_DIR/start-session.log"
    mkdir -p "$KV_LANE_DIR"
    if ! start_wine >"$log" 2>&1 </dev/null; then
        cat "$log"
        return 1
    fi
    echo "wine session ready: lane $KV_LANE, prefix $WINEPREFIX, display $(cat "$KV_LANE_DIR/display")"
}

make_locales >"$winetest_dir/locales.log" 2>&1 || { cat "$winetest_dir/locales.log"; exit 1; }
fresh_prefix=
if [ -n "${KV_LANES:-}" ]; then
    for ((lane = 0; lane < KV_LANES; lane++)); do
        start_lane "$lane"
    done
else
    start_lane "$KV_LANE"
fi
