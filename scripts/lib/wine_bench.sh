# The Windows build's rows of scripts/run-benchmarks: vkt5-upgrade.exe under Wine, on its own
# virtual display with a wineserver that runs under the serial-device guard (the Windows tests'
# session script), against the same simulated unit on COM49 behind the same 48 silent ptys.
#
# Sourced by run-benchmarks after its helpers; wine_rows fills W_PAINT, W_CPU_SCAN, W_CPU_WAIT,
# W_CPU_UPLOAD, W_UP and W_OK. Wine's work for a program is split between the program's process
# and the wineserver (which does the device I/O), so CPU is the sum of both.

# Every Wine process of this prefix (its services included).
wine_prefix_pids() {
    local p
    for p in /proc/[0-9]*; do
        tr '\0' ' ' <"$p/cmdline" 2>/dev/null | grep -qiE '\.exe|wine' &&
            tr '\0' '\n' <"$p/environ" 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX" &&
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

wine_rows() {
    local state=$out/wine session=$root/tests/windows/wine_session.sh saved_display=$DISPLAY
    local n status pids server wid width height fx fy
    mkdir -p "$state"
    export VKT5_WINEPREFIX=${VKT5_BENCH_WINEPREFIX:-$HOME/.vkt5-wine-bench}
    n=${VKT5_BENCH_WINE_DISPLAY:-67}
    while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
    export VKT5_WINE_DISPLAY=$n
    echo "Windows build under Wine (prefix $VKT5_WINEPREFIX, display :$n) ..."
    bash "$session" start "$state/session" >"$state/session.log" 2>&1 || return 1
    . "$root/tests/windows/wine_env.sh"
    server=$(cat "$state/session/wineserver.pid")

    # Start-up to the first painted window, no port mapped.
    : >"$state/startup.txt"
    for _ in 1 2 3; do
        "$watch" --kill --timeout 30 -- wine "$exe" >>"$state/startup.txt" 2>/dev/null
        sleep 1
        for p in $(wine_program_pids); do kill "$p" 2>/dev/null; done
    done
    W_PAINT=$(sed -n 's/^painted_ms: //p' "$state/startup.txt" | median)

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
        wid=$(xdotool search --onlyvisible --name "Corvane" 2>/dev/null | head -n 1)
        # Wine draws the frame itself: the border is as wide on every side, the caption on top.
        read -r width height < <(xwininfo -id "$wid" | awk '/Width:/ {w=$2} /Height:/ {h=$2} END {print w, h}')
        fx=$(((width - 500) / 2))
        fy=$((height - 240 - fx))
        xdotool mousemove --window "$wid" $((217 + fx)) $((212 + fy)) click 1
        if wait_for_log "programming requested" 30; then
            sleep 3
            W_CPU_UPLOAD=$(cpu_percent 5 $pids "$server")
            if wait_for_log "end-of-file record" 600; then
                sleep 0.5
                xdotool mousemove --window "$wid" $((277 + fx)) $((212 + fy)) click 1
                status=0
            fi
        fi
    fi
    sleep 1
    for p in $(wine_program_pids); do kill "$p" 2>/dev/null; done
    stop_simulator
    W_UP=$(report_value upload_seconds)
    [ "$(report_value flash_matches_image)" = yes ] && W_OK=yes
    for n in $(seq 1 49); do vkt5_unmap_port "$n"; done
    bash "$session" stop "$state/session" >>"$state/session.log" 2>&1
    # Wine's services of this prefix sometimes outlive their wineserver: end them too.
    sleep 1
    for p in $(wine_prefix_pids); do kill "$p" 2>/dev/null; done
    export DISPLAY=$saved_display
    unset WINEPREFIX WINEARCH WINEDEBUG WINEDLLOVERRIDES
    return $status
}
