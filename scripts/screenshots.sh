#!/usr/bin/env bash
# Pictures of KVPortal's window for the README (what `make screenshots` runs): the program runs
# in the simulated studio on a virtual display of its own, once in the light and once in the
# dark scheme, and each run leaves <scheme>-top.png (the start of the list), <scheme>-dante.png
# (the RX48 group, a device with its RAVENNA AES67 / Dante tabs) and <scheme>-end.png (the end
# of the list) in docs/screenshots (SCREENSHOTS_DIR chooses another folder).
# Needs root for the studio's network namespace. Everything it started is ended and removed
# when it ends, also on Ctrl+C.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
program=${KVPORTAL:-$root/${BUILD_DIR:-build}/bin/kvportal}
stage_deadline=120
# Wheel notches (60 pixels each at scale 1) that bring the RX48 group near the window's top;
# the groups above it are as high whatever order their rows arrived in.
dante_notches=9

if [ "${1:-}" != "--inside" ]; then
    [ -x "$program" ] || { echo "screenshots: build the program first ($program)" >&2; exit 1; }
    export KVPORTAL=$program SCREENSHOTS_DIR=${SCREENSHOTS_DIR:-$root/docs/screenshots}
    exec python3 "$root/studio/studio.py" run -- "${BASH_SOURCE[0]}" --inside
fi

# Inside the studio's network namespace from here on.
work=$(mktemp -d /tmp/kvportal-screenshots-XXXXXX)
pids=()
cleanup() {
    local pid
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# shellcheck source=scripts/studio-session.sh
source "$root/scripts/studio-session.sh"
virtual_display "$work"
# Scale factor 1: the pictures show the window at its own 640 x 480.
export QT_QPA_PLATFORM=xcb QT_FONT_DPI=96
mkdir -p "$SCREENSHOTS_DIR"

# The devices the program shows (the studio's, less those it must ignore).
mapfile -t devices < <(python3 - "$root/studio" <<'EOF'
import sys
sys.path.insert(0, sys.argv[1])
from kvstudio.description import load
for device in load().devices:
    if not device.ignored:
        print(device.name)
EOF
)

# settled: whether the status file gives every device its released version.
settled() {
    local name
    for name in "${devices[@]}"; do
        grep -F -- "$name;" "$kv/kvportal.ipc" 2>/dev/null | grep -qv ';null$' || return 1
    done
}

# settle PID: waits until every device has its released version and then until the log has
# been quiet long enough for the sync message to hide itself (two ticks of a second).
settle() {
    local deadline=$((SECONDS + stage_deadline)) size=-1
    until settled && [ "$size" = "$(stat -c %s "$kv/log.txt")" ]; do
        if [ $SECONDS -ge $deadline ] || ! kill -0 "$1" 2>/dev/null; then
            echo "screenshots: the studio did not settle in the window" >&2
            return 1
        fi
        size=$(stat -c %s "$kv/log.txt" 2>/dev/null || echo -1)
        sleep 4
    done
}

# shot WINDOW NAME: the window alone, as the user sees it.
shot() {
    import -display "$DISPLAY" -window "$1" "$SCREENSHOTS_DIR/$2.png"
    echo "  $SCREENSHOTS_DIR/$2.png"
}

# scroll WINDOW NOTCHES: turns the wheel down over the list.
scroll() {
    xdotool mousemove --window "$1" 320 300 click --repeat "$2" --delay 50 5
    # Off the window again, so that nothing in the picture is hovered.
    xdotool mousemove 1000 700
    sleep 1
}

for scheme in light dark; do
    echo "KVPortal in the $scheme scheme:"
    studio_user "$work/$scheme"
    KVPORTAL_COLOR_SCHEME=$scheme "$KVPORTAL" >"$work/$scheme-console.txt" 2>&1 &
    portal=$!
    pids+=("$portal")
    wait_window "$portal"
    xdotool mousemove 1000 700
    settle "$portal"
    window=$(xdotool search --pid "$portal" --onlyvisible --name '^KVPortal$' | head -n 1)
    shot "$window" "$scheme-top"
    scroll "$window" "$dante_notches"
    shot "$window" "$scheme-dante"
    scroll "$window" 100
    shot "$window" "$scheme-end"
    kill "$portal"
    wait "$portal" || true
done
