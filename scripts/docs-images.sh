#!/bin/bash
# Makes the README's pictures: runs the scripted session of the run command
# (KV_SCRIPTED=1 bash scripts/run.sh), then cuts the chosen screenshots out
# of build/screenshots and shrinks them into docs/images/.
#   bash scripts/docs-images.sh
# Ends with 1, and leaves docs/images/ alone, when the session fails or a
# screenshot of the table is missing. It uses the build folder's Wine session:
# not while the tests run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${KV_BUILD_DIR:-$root/build}

# One row a picture: screenshot (under build/screenshots), the part to keep
# (ImageMagick geometry WxH+X+Y on the 1024x768 screen, or "all"), the
# largest width in docs/images, and the picture's name there.
# The session's windows: the panel at the top left (Wine cannot say where the
# icon is), the About window centred, the menu beside the first icon.
pictures="
01-panel.png              150x130+0+0      150  mode-panel.png
04-about.png              572x458+226+155  572  about-window.png
06-context-menu.png       260x110+0+0      260  context-menu.png
05e-policy.png            150x160+0+0      150  mode-panel-policy.png
150/01-panel.png          225x195+0+0      225  mode-panel-150.png
150/04-about.png          858x687+83+40    572  about-window-150.png
05b-high-contrast.png     572x458+226+155  572  high-contrast.png
rtl/panel.png             150x130+0+0      150  mode-panel-hebrew.png
rtl/about.png             572x458+226+155  572  about-window-hebrew.png
"

KV_SCRIPTED=1 bash "$root/scripts/run.sh" || {
    echo "The scripted session failed; docs/images/ is unchanged." >&2
    exit 1
}

shots="$build/screenshots"

# Right to left: the program under a Hebrew user interface, panel and About.
winetest_dir="$build/winetest"
bash "$root/winetest/start-session.sh" "$winetest_dir" "$build/doubles/simfirmware.dll" \
    "$build/doubles/simtaskscheduler.dll" >/dev/null
source "$winetest_dir/wine-env.sh"
kv_desktop_probe="$build/tests/desktop_probe.exe"
source "$root/winetest/desktop.sh"
mkdir -p "$shots/rtl"
kv_reset_machine
LANG=he_IL.UTF-8 LC_ALL=he_IL.UTF-8 LOCPATH="$winetest_dir/locales" KV_WINE_TIMEOUT=60 \
    "$winetest_dir/wine-run" "$build/Kelvane/Kelvane.exe" >/dev/null 2>&1 &
program=$!
rtl_ok=0
if kv_wait 30 kv_has_window 150x130+0+0; then
    sleep 0.5
    kv_screenshot "$shots/rtl/panel.png"
    kv_post_command 40002
    if kv_wait 10 kv_has_window 572x458+226+155; then
        sleep 0.5
        kv_screenshot "$shots/rtl/about.png"
        rtl_ok=1
    fi
fi
kv_post_command 40004
wait "$program" 2>/dev/null || true
kv_reset_machine
bash "$root/winetest/stop-session.sh" "$winetest_dir"
if [ "$rtl_ok" -ne 1 ]; then
    echo "The right-to-left windows did not open; docs/images/ is unchanged." >&2
    exit 1
fi
staging=$(mktemp -d)
trap 'rm -rf "$staging"' EXIT
while read -r shot part width name; do
    [ -n "$shot" ] || continue
    if [ ! -f "$shots/$shot" ]; then
        echo "The session made no $shots/$shot; adjust the table in $0." >&2
        exit 1
    fi
    crop=()
    [ "$part" = all ] || crop=(-crop "$part" +repage)
    # Only shrink; strip the time stamps so that an unchanged picture stays
    # byte for byte the same.
    timeout 60 convert "$shots/$shot" "${crop[@]}" -resize "${width}x>" -strip \
        -define png:exclude-chunks=date,time "$staging/$name"
    echo "docs/images/$name  <-  $shot ($part)"
done <<<"$pictures"

mkdir -p "$root/docs/images"
cp "$staging"/*.png "$root/docs/images/"
