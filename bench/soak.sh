#!/bin/sh
# soak.sh [MINUTES] [BINARY]: the note on a private Xvfb with openbox, blinking and polled for
# MINUTES (default 60) while 1000 pastes (16 x 16 to 3840 x 2160), 10 000 Ctrl+Alt+A toggles
# and 1000 resize drags per hour are driven through X. The memory is read with the same 16 x 16
# picture pasted after the first minute and at the end. Prints each action that went
# unanswered, the resident memory after the first minute and at the end, and the exit code on
# Ctrl+Alt+X; the memory samples go to soak-rss.tsv in the current directory. Exits non-zero
# if an action went unanswered, memory grew by more than 5 MiB or the exit code was not 0.
# Needs the end-to-end test tools (Xvfb, openbox, xdotool, xclip, ImageMagick, Python with
# Pillow); run on demand, not in the test run.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
minutes=${1:-60}
binary=${2:-$here/../build/stiqlet}
# The system interpreter has Pillow; one found first on PATH may not.
python=python3
for candidate in /usr/bin/python3 python3; do
    if "$candidate" -c "import PIL" 2>/dev/null; then
        python=$candidate
        break
    fi
done
exec "$python" "$here/soak.py" --minutes "$minutes" --binary "$binary"
