#!/usr/bin/env bash
# Takes the README's screenshots of the note under a virtual X server with openbox.
# Usage: tools/screenshots.sh [build/stiqlet] [docs]
set -euo pipefail
bin=${1:-build/stiqlet}
out=${2:-docs}
mkdir -p "$out"

Xvfb :97 -noreset -screen 0 640x480x24 >/dev/null 2>&1 &
xvfb=$!
trap 'kill $app $wm $xvfb 2>/dev/null || true' EXIT
export DISPLAY=:97
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
xsetroot -solid '#3a6ea5'
openbox >/dev/null 2>&1 &
wm=$!
sleep 1
QT_QPA_PLATFORM=xcb "$bin" >/dev/null 2>&1 &
app=$!
win=$(xdotool search --sync --onlyvisible --name '^Form1$' | head -n 1)
xdotool mousemove 10 10
sleep 1
eval "$(xdotool getwindowgeometry --shell "$win")"
# The note with a margin of desktop around it.
import -window root -crop "$((WIDTH + 40))x$((HEIGHT + 40))+$((X - 20))+$((Y - 20))" +repage \
  "$out/note.png"
echo "$out/note.png"
