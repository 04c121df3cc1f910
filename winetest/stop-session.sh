#!/bin/bash
# Ends what start-session.sh started. Usage: stop-session.sh WINETEST_DIR
winetest_dir=$1
source "$winetest_dir/wine-env.sh"
timeout 30 wineserver -k 2>/dev/null || true
if [ -f "$winetest_dir/xvfb.pid" ]; then
    kill "$(cat "$winetest_dir/xvfb.pid")" 2>/dev/null || true
    rm -f "$winetest_dir/xvfb.pid" "$winetest_dir/display"
fi
exit 0
