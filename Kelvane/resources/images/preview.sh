#!/bin/bash
# Renders the pictures the way the program composes them (texts at their
# anchors, buttons in their rectangles) and enlarges the small ones, for a
# look by eye. Usage: preview.sh [output folder]   (default: build/resource-preview)
# DejaVu Sans stands in for Arial; positions are the program's.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=${1:-$here/../../../build/resource-preview}
mkdir -p "$out"
cd "$here"
font=DejaVu-Sans
bold=DejaVu-Sans-Bold

# Mode panel at its default size: labels at (50,50) and (100,50) top-centre,
# radios at (42,72) and (92,72), "About" at (75,100).
convert panel_background.png \
    radio_selected.png -geometry +42+72 -composite \
    radio_unselected.png -geometry +92+72 -composite \
    -font $font -pointsize 12 -fill white -gravity NorthWest \
    -annotate +42+50 'On' -annotate +90+50 'Off' \
    -pointsize 10.5 -fill 'rgb(102,217,255)' -annotate +60+100 'About' \
    "$out/panel.png"
convert "$out/panel.png" -filter point -resize 300% "$out/panel-x3.png"

# About window, left to right.
desc="When you are using your notebook on the move or when lounging around the house, Vorn Kelvane helps deliver the optimum level of comfort by automatically adjusting performance and internal fan settings."
on="When Vorn Kelvane is on, it automatically detects if your notebook is not in a stationary position and makes further adjustments to performance and fan settings to keep the surface temperature of your notebook at the optimum level of comfort."
off="When Vorn Kelvane is off, performance and fan settings are not adjusted beyond your notebook's default cooling settings. When your notebook is not in a stationary position, the surface temperature of your notebook may therefore be higher than it would be with Vorn Kelvane on."
convert -background none -fill 'rgb(242,242,242)' -font $font -pointsize 12 -size 492x89 caption:"$desc" "$out"/part-desc.png
convert -background none -fill 'rgb(220,220,220)' -font $font -pointsize 10.5 -size 387x106 caption:"$on" "$out"/part-on.png
convert -background none -fill 'rgb(220,220,220)' -font $font -pointsize 10.5 -size 387x106 caption:"$off" "$out"/part-off.png
convert about_background.png \
    close_normal.png -geometry +540+12 -composite \
    minimize_normal.png -geometry +514+20 -composite \
    -gravity NorthWest -font $bold -pointsize 15 -fill white -annotate +40+62 'About Vorn Kelvane' \
    "$out"/part-desc.png -geometry +40+86 -composite \
    -font $bold -pointsize 12 -fill 'rgb(242,242,242)' -annotate +145+175 'On' -annotate +145+299 'Off' \
    "$out"/part-on.png -geometry +145+193 -composite \
    "$out"/part-off.png -geometry +145+317 -composite \
    -font $font -pointsize 12 -fill 'rgb(200,200,200)' -annotate +50+430 'Version 2.2' \
    -annotate +317+430 'Show Vorn Kelvane icon on Startup' \
    \( check_box_checked.png \) -geometry +289+427 -composite \
    "$out/about.png"
rm -f "$out"/part-desc.png "$out"/part-on.png "$out"/part-off.png

# The small pieces, eight times, on the background colour.
convert -background 'rgb(30,38,52)' \
    radio_selected.png radio_unselected.png check_box_checked.png check_box_unchecked.png \
    close_normal.png close_hover.png close_pressed.png \
    minimize_normal.png minimize_hover.png minimize_pressed.png \
    -filter point -resize 800% -bordercolor 'rgb(30,38,52)' -border 8 +append "$out/controls-x8.png"
convert notebook_stationary.png notebook_mobile.png notebook_both.png +append "$out/illustrations.png"

# Every icon image at its own size, on a light and on a dark strip.
for ico in mode_on mode_off mode_stationary mode_mobile mode_auto; do
    convert "$ico.ico" -delete 6-9 -background none -gravity center -extent 48x48 +append "$out/$ico-row.png"
done
convert -background 'rgb(240,240,240)' "$out"/mode_on-row.png "$out"/mode_off-row.png "$out"/mode_stationary-row.png "$out"/mode_mobile-row.png "$out"/mode_auto-row.png -append "$out/icons-light.png"
convert -background 'rgb(24,24,24)' "$out"/mode_on-row.png "$out"/mode_off-row.png "$out"/mode_stationary-row.png "$out"/mode_mobile-row.png "$out"/mode_auto-row.png -append "$out/icons-dark.png"
convert "$out/icons-light.png" -filter point -resize 200% "$out/icons-light-x2.png"
rm -f "$out"/mode_*-row.png
echo "previews in $out"
