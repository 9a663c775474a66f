#!/bin/sh
# Renders the icon artwork from stiqlet.svg: the PNGs the program embeds
# (64 px note picture and window icon, 45 px About icon), the PNG sizes of
# the hicolor icon theme, and the multi-size Windows .ico.
#
# A developer tool: the build uses the committed output and never runs it.
# Needs rsvg-convert (Debian: librsvg2-bin) and ImageMagick's convert
# (Debian: imagemagick). Run it again after every change to the SVG.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
cd "$here"

RSVG=${RSVG:-rsvg-convert}
CONVERT=${CONVERT:-convert}
for tool in "$RSVG" "$CONVERT"; do
    command -v "$tool" >/dev/null 2>&1 || {
        echo "render.sh: $tool not found (apt-get install librsvg2-bin imagemagick)" >&2
        exit 1
    }
done

# Each size is rendered from the vector drawing, not scaled down from a
# larger bitmap, so every size gets its own anti-aliasing.
render() { # size output
    "$RSVG" --width "$1" --height "$1" --keep-aspect-ratio --format png \
        --output "$2" stiqlet.svg
}

render 64 stiqlet-64.png
render 45 stiqlet-45.png

for size in 32 48 64 128 256; do
    mkdir -p "hicolor/$size"
    render "$size" "hicolor/$size/stiqlet.png"
done

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
for size in 16 32 48 64 256; do
    render "$size" "$tmp/$size.png"
done
# -strip keeps time stamps out of the file, so that an unchanged drawing
# gives an unchanged .ico.
"$CONVERT" "$tmp/16.png" "$tmp/32.png" "$tmp/48.png" "$tmp/64.png" \
    "$tmp/256.png" -strip stiqlet.ico

echo "render.sh: wrote stiqlet-64.png stiqlet-45.png hicolor/{32,48,64,128,256}/stiqlet.png stiqlet.ico"
