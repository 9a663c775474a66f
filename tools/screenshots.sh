#!/usr/bin/env bash
# Takes the README's screenshots under a virtual X server with openbox: the note, its menu and
# the About window. Usage: tools/screenshots.sh [build/stiqlet] [docs]
set -euo pipefail
bin=${1:-build/stiqlet}
out=${2:-docs}
mkdir -p "$out"

Xvfb :97 -noreset -screen 0 1024x768x24 >/dev/null 2>&1 &
xvfb=$!
app=""
wm=""
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
shot() { import -window root -crop "$1" +repage "$out/$2"; echo "$out/$2"; }

# The note with a margin of desktop around it.
shot "$((WIDTH + 40))x$((HEIGHT + 40))+$((X - 20))+$((Y - 20))" note.png

# Its menu, opened with a right click on the note.
xdotool mousemove $((X + 60)) $((Y + 60)) click 3
sleep 1
shot "$((WIDTH + 280))x$((HEIGHT + 120))+$((X - 20))+$((Y - 20))" menu.png

# The About window, chosen from the menu with the keyboard.
xdotool key Down Down Down Down Down Down Down Down Return
about=$(xdotool search --sync --onlyvisible --name '^Stiqlet V1\.4$' | head -n 1)
xdotool mousemove 10 10
sleep 1
eval "$(xdotool getwindowgeometry --shell "$about")"
shot "$((WIDTH + 20))x$((HEIGHT + 50))+$((X - 10))+$((Y - 40))" about.png
