#!/usr/bin/env bash
# Makes the files that the program embeds and writes at start-up: the
# logo "qlogo.gif" (an animated GIF89a of 115 x 60 pixels, 13 frames,
# looping) and the sounds "1.wav" to "4.wav". Needs python3 and Debian's
# imagemagick. The results are committed; the build does not run this.
set -euo pipefail
cd "$(dirname "$0")"
convert=/usr/bin/convert

python3 make_sounds.py .

# The logo: the product name on the report's blue, with a lens that sweeps
# across it and comes back.
frames=()
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
for i in $(seq 0 12); do
    # 0..6 forwards, 7..12 back again.
    if [ "$i" -le 6 ]; then step=$i; else step=$((12 - i)); fi
    x=$((12 + step * 15))
    "$convert" -size 115x60 xc:'#0080FF' \
        -fill '#FFFF00' -font DejaVu-Sans-Bold -pointsize 17 \
        -gravity northwest -annotate +7+12 'Netquarry' \
        -fill white -font DejaVu-Sans -pointsize 9 -annotate +9+36 'site keyword search' \
        -fill none -stroke white -strokewidth 2 -draw "circle $x,24 $((x + 7)),24" \
        -stroke white -strokewidth 3 -draw "line $((x + 5)),29 $((x + 10)),35" \
        "$tmp/f$(printf %02d "$i").gif"
    frames+=("$tmp/f$(printf %02d "$i").gif")
done
"$convert" -delay 15 "${frames[@]}" -loop 0 -layers Optimize qlogo.gif
echo "made qlogo.gif 1.wav 2.wav 3.wav 4.wav"
