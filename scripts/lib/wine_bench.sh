# The Windows build's rows of scripts/run-benchmarks: vkt5-upgrade.exe under Wine, on its own
# virtual display with a wineserver that runs under the serial-device guard (the Windows tests'
# session script), against the same simulated unit on COM49 behind the same 48 silent ptys.
#
# Sourced by run-benchmarks after its helpers; wine_rows fills W_PAINT, W_CPU_SCAN, W_CPU_WAIT,
# W_CPU_UPLOAD, W_UP and W_OK; wine_fast_rows (fast mode against the paced unit on COM1) fills
# WF_UP, WF_OK and WF_CPU_UPLOAD. Wine's work for a program is split between the program's process
# and the wineserver (which does the device I/O), so CPU is the sum of both.

# Every Wine process of this prefix (its services included).
wine_prefix_pids() {
    local p
    for p in /proc/[0-9]*; do
        tr '\0' ' ' 2>/dev/null <"$p/cmdline" | grep -qiE '\.exe|wine' &&
            tr '\0' '\n' 2>/dev/null <"$p/environ" | grep -qx "WINEPREFIX=$WINEPREFIX" &&
            echo "${p#/proc/}"
    done
}

# Our processes whose command line names the program (the loader and the program proper): only
# those in this prefix, so that a Windows test running beside us is neither measured nor touched.
wine_program_pids() {
    local p
    for p in /proc/[0-9]*; do
        grep -qa "vkt5-upgrade.exe" "$p/cmdline" 2>/dev/null &&
            tr '\0' '\n' <"$p/environ" 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX" &&
            echo "${p#/proc/}"
    done
}

WINE_STATE=$out/wine
WINE_SESSION=$root/tests/windows/wine_session.sh

# The Windows tests' session (Xvfb and a guarded wineserver) for this prefix; sets WINE_SERVER.
wine_session_up() {
    local n
    mkdir -p "$WINE_STATE"
    WINE_SAVED_DISPLAY=$DISPLAY
    export VKT5_WINEPREFIX=${VKT5_BENCH_WINEPREFIX:-$HOME/.vkt5-wine-bench}
    n=${VKT5_BENCH_WINE_DISPLAY:-67}
    while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
    export VKT5_WINE_DISPLAY=$n
    echo "Windows build under Wine (prefix $VKT5_WINEPREFIX, display :$n) ..."
    bash "$WINE_SESSION" start "$WINE_STATE/session" >>"$WINE_STATE/session.log" 2>&1 || return 1
    . "$root/tests/windows/wine_env.sh"
    WINE_SERVER=$(cat "$WINE_STATE/session/wineserver.pid")
}

wine_session_down() {
    local n p
    for p in $(wine_program_pids); do kill "$p" 2>/dev/null; done
    for n in $(seq 1 49); do vkt5_unmap_port "$n"; done
    bash "$WINE_SESSION" stop "$WINE_STATE/session" >>"$WINE_STATE/session.log" 2>&1
    # Wine's services of this prefix sometimes outlive their wineserver: end them too.
    sleep 1
    for p in $(wine_prefix_pids); do kill "$p" 2>/dev/null; done
    export DISPLAY=$WINE_SAVED_DISPLAY
    unset WINEPREFIX WINEARCH WINEDEBUG WINEDLLOVERRIDES
}

# wine_click X Y: a click at client coordinates of the program's window. Wine draws the frame
# itself: the border is as wide on every side, the caption on top.
wine_click() {
    local wid width height fx fy
    wid=$(xdotool search --onlyvisible --name "Corvane" 2>/dev/null | head -n 1)
    [ -n "$wid" ] || return 1
    read -r width height < <(xwininfo -id "$wid" | awk '/Width:/ {w=$2} /Height:/ {h=$2} END {print w, h}')
    fx=$(((width - 500) / 2))
    fy=$((height - 240 - fx))
    xdotool mousemove --window "$wid" $(($1 + fx)) $(($2 + fy)) click 1
}

wine_rows() {
    local n status pids server
    wine_session_up || return 1
    server=$WINE_SERVER

    # Start-up to the first painted window, no port mapped.
    : >"$WINE_STATE/startup.txt"
    for _ in 1 2 3; do
        "$watch" --kill --timeout 30 -- wine "$exe" >>"$WINE_STATE/startup.txt" 2>/dev/null
        sleep 1
        for p in $(wine_program_pids); do kill "$p" 2>/dev/null; done
    done
    W_PAINT=$(sed -n 's/^painted_ms: //p' "$WINE_STATE/startup.txt" | median)

    for n in $(seq 1 48); do
        vkt5_map_port "$n" "$(readlink -f "$out/silent/p$n")"
    done
    run_dir wine-instant
    start_simulator "$sim" "$image" || return 1
    vkt5_map_port 49 "$(readlink -f "$SESSION_DIR/unit")"

    wine "$exe" >"$SESSION_DIR/program.log" 2>&1 &
    remember $!
    sleep 3
    pids=$(wine_program_pids)
    W_CPU_SCAN=$(cpu_percent 5 $pids "$server")
    grep -q "port opened" "$SESSION_DIR/sim.log" && W_CPU_SCAN=""
    status=1
    if wait_for_log "identification answered" 120; then
        sleep 1.5
        pids=$(wine_program_pids)
        W_CPU_WAIT=$(cpu_percent 5 $pids "$server")
        wine_click 217 212 # Yes
        if wait_for_log "programming requested" 30; then
            sleep 3
            W_CPU_UPLOAD=$(cpu_percent 5 $pids "$server")
            if wait_for_log "end-of-file record" 600; then
                sleep 0.5
                wine_click 277 212 # OK
                status=0
            fi
        fi
    fi
    sleep 1
    for p in $(wine_program_pids); do kill "$p" 2>/dev/null; done
    stop_simulator
    W_UP=$(report_value upload_seconds)
    [ "$(report_value flash_matches_image)" = yes ] && W_OK=yes
    wine_session_down
    return $status
}

# The program in fast mode against the unit paced like a 57600 line (2 ms per record) on COM1.
wine_fast_rows() {
    local status=1 pids
    wine_session_up || return 1
    run_dir wine-fast
    start_simulator "$sim" "$image" --baud-pace --record-delay 2 || { wine_session_down; return 1; }
    vkt5_map_port 1 "$(readlink -f "$SESSION_DIR/unit")"
    echo "  fast mode, paced unit (about 65 s) ..."
    VKT5_FAST=1 wine "$exe" >"$SESSION_DIR/program.log" 2>&1 &
    remember $!
    if wait_for_log "identification answered" 60; then
        sleep 1.5
        wine_click 217 212 # Yes
        if wait_for_log "programming requested" 30; then
            sleep 3
            pids=$(wine_program_pids)
            WF_CPU_UPLOAD=$(cpu_percent 5 $pids "$WINE_SERVER")
            if wait_for_log "end-of-file record" 600; then
                sleep 0.5
                wine_click 277 212 # OK
                status=0
            fi
        fi
    fi
    sleep 1
    stop_simulator
    WF_UP=$(report_value upload_seconds)
    [ "$(report_value flash_matches_image)" = yes ] && WF_OK=yes
    wine_session_down
    return $status
}
