# shellcheck shell=bash disable=SC2034,SC2154 # the callers own pids, stage_deadline and kv
# Pieces shared by the scripts that run KVPortal inside the simulated studio (demo.sh,
# screenshots.sh). Sourced inside the studio's network namespace; the caller defines `pids`
# (the processes it ends on exit, in its own trap) and `stage_deadline` (seconds).

# studio_user DIR: a user of its own under DIR: home, settings pointing at the studio's release
# server, runtime folder. Sets `kv`, the program's folder.
studio_user() {
    # The display's cookie stays where it was found when HOME moves.
    if [ -z "${XAUTHORITY:-}" ] && [ -f "$HOME/.Xauthority" ]; then
        export XAUTHORITY=$HOME/.Xauthority
    fi
    export HOME=$1/home XDG_CONFIG_HOME=$1/config XDG_CONFIG_DIRS=$1/machine
    export XDG_RUNTIME_DIR=$1/runtime TMPDIR=$1/tmp KVPORTAL_PROGRAM_FILES=$1/programs
    mkdir -p "$HOME/Downloads" "$XDG_CONFIG_HOME/Kelmora Technologies" "$XDG_CONFIG_DIRS" \
        "$TMPDIR" "$KVPORTAL_PROGRAM_FILES"
    mkdir -m 700 "$XDG_RUNTIME_DIR"
    printf '[General]\npublish_file="%s"\n' "$KV_STUDIO_PUBLISH_URL" \
        > "$XDG_CONFIG_HOME/Kelmora Technologies/KVPortal.conf"
    unset http_proxy https_proxy all_proxy HTTP_PROXY HTTPS_PROXY ALL_PROXY
    kv=$HOME/Downloads/KV
}

# wait_for FILE TEXT [PID]: waits until FILE holds a line containing TEXT, while PID runs.
wait_for() {
    local deadline=$((SECONDS + stage_deadline))
    until [ -f "$1" ] && grep -qF -- "$2" "$1"; do
        if [ $SECONDS -ge $deadline ] || { [ -n "${3:-}" ] && ! kill -0 "$3" 2>/dev/null; }; then
            echo "${0##*/}: no \"$2\" in $1" >&2
            return 1
        fi
        sleep 0.2
    done
}

# virtual_display DIR: starts Xvfb (1024x768, 96 dpi), adds it to `pids` and exports DISPLAY.
# Without -noreset the server resets when its last client leaves and refuses the next one for
# a moment.
virtual_display() {
    exec 9>"$1/display"
    Xvfb -displayfd 9 -screen 0 1024x768x24 -dpi 96 -nolisten tcp -noreset >"$1/xvfb.log" 2>&1 &
    pids+=($!)
    exec 9>&-
    until [ -s "$1/display" ]; do
        kill -0 "${pids[-1]}" 2>/dev/null || { cat "$1/xvfb.log" >&2; return 1; }
        sleep 0.1
    done
    DISPLAY=:$(head -n 1 "$1/display")
    export DISPLAY
}

# wait_window PID: waits until KVPortal's window shows on the display, while PID runs.
wait_window() {
    local deadline=$((SECONDS + stage_deadline))
    until xwininfo -name KVPortal 2>/dev/null | grep -q IsViewable; do
        if [ $SECONDS -ge $deadline ] || ! kill -0 "$1" 2>/dev/null; then
            echo "${0##*/}: the KVPortal window did not appear" >&2
            return 1
        fi
        sleep 0.2
    done
}
