# Shared by scripts/demo and scripts/screenshot: the simulated service, a virtual desktop, and
# the client's window on it. Source it; every process started here is ended by kv_cleanup.

kv_pids=()
kv_work=$(mktemp -d "${TMPDIR:-/tmp}/korvane-XXXXXX")

kv_cleanup() {
    local pid
    for ((i = ${#kv_pids[@]} - 1; i >= 0; i--)); do
        pid=${kv_pids[i]}
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$kv_work"
}

kv_title='Korvane云　离线下载 '

# Starts build/<preset>/bin/korvane-sim and exports the three lines it prints when ready.
kv_start_sim() {
    local bin=$1 lines=$kv_work/sim.lines
    "$bin/korvane-sim" >"$lines" 2>"$kv_work/sim.log" &
    kv_pids+=($!)
    for _ in $(seq 300); do
        if [ "$(grep -c '^KORVANE_' "$lines" 2>/dev/null)" -ge 3 ]; then
            while IFS= read -r line; do
                case $line in KORVANE_CONNECT_TO=* | KORVANE_CA_BUNDLE=* | KORVANE_SIM_URL=*) export "${line?}" ;; esac
            done <"$lines"
            return 0
        fi
        sleep 0.1
    done
    echo "korvane-sim did not get ready; its log:" >&2
    cat "$kv_work/sim.log" >&2
    return 1
}

# Starts Xvfb on a free display, with openbox so that windows get frames, and exports DISPLAY.
kv_start_virtual_desktop() {
    local number=$kv_work/display
    Xvfb -displayfd 1 -screen 0 1280x800x24 -nolisten tcp >"$number" 2>"$kv_work/xvfb.log" &
    kv_pids+=($!)
    for _ in $(seq 200); do
        [ -s "$number" ] && break
        sleep 0.1
    done
    [ -s "$number" ] || { echo "Xvfb did not start" >&2; return 1; }
    export DISPLAY=":$(cat "$number")"
    openbox >"$kv_work/openbox.log" 2>&1 &
    kv_pids+=($!)
    for _ in $(seq 200); do
        xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && return 0
        sleep 0.1
    done
    echo "openbox did not start" >&2
    return 1
}

# Prints the id of the client's window once it is shown.
kv_wait_for_window() {
    local id
    for _ in $(seq 300); do
        for id in $(xdotool search --onlyvisible --name . 2>/dev/null); do
            if [ "$(xdotool getwindowname "$id" 2>/dev/null)" = "$kv_title" ]; then
                echo "$id"
                return 0
            fi
        done
        sleep 0.1
    done
    return 1
}

# Writes the window with its frame to a PNG file.
kv_shoot_window() {
    local id=$1 out=$2 x y w h left right top bottom
    x=$(xwininfo -id "$id" | awk -F: '/Absolute upper-left X/ {print $2}')
    y=$(xwininfo -id "$id" | awk -F: '/Absolute upper-left Y/ {print $2}')
    w=$(xwininfo -id "$id" | awk -F: '/Width/ {print $2}')
    h=$(xwininfo -id "$id" | awk -F: '/Height/ {print $2}')
    IFS=', ' read -r left right top bottom < <(xprop -id "$id" _NET_FRAME_EXTENTS | sed 's/.*= //')
    import -window root -crop "$((w + left + right))x$((h + top + bottom))+$((x - left))+$((y - top))" +repage "$out"
}
