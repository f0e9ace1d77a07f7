#!/usr/bin/env bash
# The simulated studio with KVPortal inside it (what `make demo` runs).
#
# With a display, KVPortal opens on it: watch the devices appear and their statuses settle, click
# "Download & Update" on a device that is out of date and follow the update to the reboot and
# the device's return. Close the window to end the demo.
# Without one (or one that cannot be reached from the studio's network), the demo runs on a
# virtual display, updates "RX 48 Büro" with --firmware_download_update and leaves screenshots
# of every stage in the folder it names at the end (DEMO_SCREENSHOTS chooses it).
# Everything it started is ended and removed when it ends, also on Ctrl+C.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
program=${KVPORTAL:-$root/${BUILD_DIR:-build}/bin/kvportal}
device="RX 48 Büro"
stage_deadline=180

if [ "${1:-}" != "--inside" ]; then
    [ -x "$program" ] || { echo "demo: build the program first ($program)" >&2; exit 1; }
    export KVPORTAL=$program
    export DEMO_SCREENSHOTS=${DEMO_SCREENSHOTS:-$(dirname "$(dirname "$program")")/demo-screenshots}
    # Packages arrive at 64 KiB/s and every update phase lasts a second, so there is time to
    # watch them.
    exec python3 "$root/studio/studio.py" run --download-rate 65536 \
        --device-behaviour '{"phase_ms": 1000}' -- "${BASH_SOURCE[0]}" --inside
fi

# Inside the studio's network namespace from here on.
work=$(mktemp -d /tmp/kvportal-demo-XXXXXX)
pids=()
cleanup() {
    local pid
    if [ -n "${shots:-}" ] && [ -f "$kv/log.txt" ]; then
        cp "$kv/log.txt" "$shots/log.txt"
    fi
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
studio_user "$work"

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    echo "KVPortal opens on $DISPLAY. Close its window to end the demo."
    "$KVPORTAL" --verbose
    exit 0
fi

shots=$DEMO_SCREENSHOTS
mkdir -p "$shots"
virtual_display "$work"
export QT_QPA_PLATFORM=xcb KVPORTAL_COLOR_SCHEME=light

shot() {
    import -display "$DISPLAY" -window root "$shots/$1.png"
    echo "  $shots/$1.png"
}

echo "No display: KVPortal runs on a virtual one and updates \"$device\"."
"$KVPORTAL" --firmware_download_update "$device" >"$work/console.txt" 2>&1 &
portal=$!
pids+=("$portal")
wait_window "$portal"
wait_for "$kv/kvportal.ipc" "$device;" "$portal"
shot 1-devices-found
wait_for "$kv/log.txt" "Downloading " "$portal"
shot 2-downloading
wait_for "$kv/log.txt" "Updating firmware " "$portal"
shot 3-uploading
wait_for "$kv/log.txt" "($device):Firmware Updating" "$portal"
shot 4-updating
wait_for "$kv/log.txt" "($device):Device Rebooting" "$portal"
shot 5-rebooting
wait "$portal" || { echo "demo: KVPortal ended with $?" >&2; exit 1; }

echo "The update is done; KVPortal starts again to show the studio up to date."
"$KVPORTAL" >>"$work/console.txt" 2>&1 &
portal=$!
pids+=("$portal")
wait_window "$portal"
wait_for "$kv/log.txt" "Product Status Changed RX48-FIRMWARE($device):Update To Date" "$portal"
# The window shows what the log says once it has handled the events queued for it.
sleep 2
shot 6-up-to-date
echo "Screenshots: $shots"
