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
    exec python3 "$root/tests/lab/studio/studio.py" run --download-rate 65536 \
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

# The display's cookie stays where it was found when HOME moves.
if [ -z "${XAUTHORITY:-}" ] && [ -f "$HOME/.Xauthority" ]; then
    export XAUTHORITY=$HOME/.Xauthority
fi
# A user of its own: home, settings pointing at the studio's release server, runtime folder.
export HOME=$work/home XDG_CONFIG_HOME=$work/config XDG_CONFIG_DIRS=$work/machine
export XDG_RUNTIME_DIR=$work/runtime TMPDIR=$work/tmp KVPORTAL_PROGRAM_FILES=$work/programs
mkdir -p "$HOME/Downloads" "$XDG_CONFIG_HOME/Kelmora Technologies" "$XDG_CONFIG_DIRS" \
    "$TMPDIR" "$KVPORTAL_PROGRAM_FILES"
mkdir -m 700 "$XDG_RUNTIME_DIR"
printf '[General]\npublish_file="%s"\n' "$KV_STUDIO_PUBLISH_URL" \
    > "$XDG_CONFIG_HOME/Kelmora Technologies/KVPortal.conf"
unset http_proxy https_proxy all_proxy HTTP_PROXY HTTPS_PROXY ALL_PROXY
kv=$HOME/Downloads/KV

# wait_for FILE TEXT [PID]: waits until FILE holds a line containing TEXT, while PID runs.
wait_for() {
    local deadline=$((SECONDS + stage_deadline))
    until [ -f "$1" ] && grep -qF -- "$2" "$1"; do
        if [ $SECONDS -ge $deadline ] || { [ -n "${3:-}" ] && ! kill -0 "$3" 2>/dev/null; }; then
            echo "demo: no \"$2\" in $1" >&2
            return 1
        fi
        sleep 0.2
    done
}

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    echo "KVPortal opens on $DISPLAY. Close its window to end the demo."
    "$KVPORTAL" --verbose
    exit 0
fi

shots=$DEMO_SCREENSHOTS
mkdir -p "$shots"
exec 9>"$work/display"
Xvfb -displayfd 9 -screen 0 1024x768x24 -dpi 96 -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
exec 9>&-
until [ -s "$work/display" ]; do
    kill -0 "${pids[0]}" 2>/dev/null || { cat "$work/xvfb.log" >&2; exit 1; }
    sleep 0.1
done
export DISPLAY=:$(head -n 1 "$work/display") QT_QPA_PLATFORM=xcb KVPORTAL_COLOR_SCHEME=light

# wait_window PID: waits until KVPortal's window shows on the virtual display, while PID runs.
wait_window() {
    local deadline=$((SECONDS + stage_deadline))
    until xwininfo -name KVPortal 2>/dev/null | grep -q IsViewable; do
        if [ $SECONDS -ge $deadline ] || ! kill -0 "$1" 2>/dev/null; then
            echo "demo: the KVPortal window did not appear" >&2
            return 1
        fi
        sleep 0.2
    done
}

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
shot 6-up-to-date
echo "Screenshots: $shots"
