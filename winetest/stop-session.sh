#!/bin/bash
# Ends what start-session.sh started, in every lane. Usage: stop-session.sh WINETEST_DIR
winetest_dir=$1
stop_lane() {
    export KV_LANE=$1
    source "$winetest_dir/wine-env.sh"
    timeout 30 wineserver -k 2>/dev/null || true
    rm -f "$KV_LANE_DIR/keeper.pid"
    if [ -f "$KV_LANE_DIR/xvfb.pid" ]; then
        kill "$(cat "$KV_LANE_DIR/xvfb.pid")" 2>/dev/null || true
        rm -f "$KV_LANE_DIR/xvfb.pid" "$KV_LANE_DIR/display"
    fi
}
stop_lane 0
for dir in "$winetest_dir"/lane*/; do
    [ -d "$dir" ] && stop_lane "$(basename "$dir" | sed 's/^lane//')"
done
exit 0
