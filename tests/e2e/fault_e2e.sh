#!/usr/bin/env bash
# The real program against a simulated unit that misbehaves, on a private virtual display: the
# window must keep answering and say what went wrong in time, the program must not spin or grow,
# never report a success it did not earn, never touch what is not the unit, and always exit with
# status 0. Where the unit is lost, Retry with the unit powered up again must complete the upgrade.
#   fault_e2e.sh SCENARIO PROGRAM SIMULATOR IMAGE OUTDIR
# Scenarios: silent-version, silent-programming, silence-ends, hangup, unplugged-at-question,
# noise, garbage, second-copy, odd-ports.
# Figures (CPU share, resident memory) are printed as "name: value" lines and kept in
# OUTDIR/figures.txt.
set -u
scenario=$1 program=$2 sim=$3 image=$4 out=$5
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../scripts/lib/session.sh"

# A window that only waits uses 0.1 to 0.4 % of a core; redrawing the upload screen every tick
# took 3 %, and a tick that spins takes all of it.
CPU_LIMIT_PERCENT=1
# The garbage stream is read for the 5 s that the program gives a found unit to say its version.
# The program takes at most 4096 bytes a tick (about 270 kB/s), less than the stream offers, so
# unbounded buffering would grow by about 950 kB between the samples, 3.5 s apart.
GARBAGE_RATE=1000000
RSS_MARGIN_KB=512

figure() { echo "$1: $2" | tee -a "$out/figures.txt"; }

# seconds_since WALL: seconds from that date +%s.%N until now.
seconds_since() { awk -v a="$1" -v b="$(date +%s.%N)" 'BEGIN {printf "%.2f", b - a}'; }

# expect_failure_screen WITHIN: the failure screen is up within WITHIN seconds of now; the time
# it took is a figure, the screen is kept as failure.png.
expect_failure_screen() {
    expect_screen failure "$1" "after the fault"
    figure seconds_to_failure_screen "$SCREEN_SECONDS"
    cp "$SESSION_DIR/screen.png" "$out/failure.png"
}

# expect_disconnected_title: " VKT-5 was disconnected" ends at x 330, well before the other titles.
expect_disconnected_title() {
    right=$(ink_right "$out/failure.png" 175 50 320 18)
    [ "$right" -lt 350 ] || fail "the title is not the lost unit's (ends at x $right)"
}

# expect_idle WHAT [SECONDS]: the program uses less than CPU_LIMIT_PERCENT of a core over that
# many seconds (5 when not given).
expect_idle() {
    percent=$(cpu_percent "${2:-5}" "$PROGRAM_PROCESS")
    figure "cpu_percent_$1" "$percent"
    awk -v p="$percent" -v limit="$CPU_LIMIT_PERCENT" 'BEGIN {exit !(p < limit)}' ||
        fail "$1: the program used $percent % of a core"
}

# expect_no_success: where OK would stand there is nothing to click, so the program stays.
expect_no_success() {
    click_ok
    wait_program 2
    expect_eq "$?" 124 "program still running after a click where OK would be"
}

# Both copies of the program open at the same place, so the one to look at comes to the front.
raise_window() { xdotool windowactivate --sync "$WID" 2>/dev/null; }

expect_closes() {
    close_window "${1:-}"
    wait_program 10 "${1:-}"
    expect_eq "$?" 0 "exit status after closing the window"
}

rm -rf "$out"
session_init "$out"
start_virtual_display

ports=",,$out/unit"
sim_options=()
case "$scenario" in
    silent-version) sim_options=(--silent-after-ident) ;;
    silent-programming) sim_options=(--silent-after 40) ;;
    silence-ends) sim_options=(--noise --noise-gap 0) ;;
    # Powered up again a second after the fault, once: a third boot-up would start a new report.
    hangup) sim_options=(--hangup-after 50 --power-up-after 1000 --units 2) ;;
    unplugged-at-question) sim_options=(--hangup-at-question 1500 --power-up-after 1000 --units 2) ;;
    noise) sim_options=(--noise) ;;
    garbage) sim_options=(--stream-garbage --garbage-rate "$GARBAGE_RATE") ;;
    second-copy) ;;
    odd-ports)
        # Four things that are not a serial line, then the unit on COM5.
        mkdir -p "$out/ports/directory"
        printf 'not a serial line\r\n' >"$out/ports/file"
        touch -d '2001-02-03 04:05:06' "$out/ports/file" "$out/ports/directory"
        file_before=$(stat -c '%s %Y %y' "$out/ports/file")
        file_sum=$(md5sum <"$out/ports/file")
        directory_before=$(stat -c '%Y %y' "$out/ports/directory")
        ports="$out/ports/missing,/dev/null,$out/ports/directory,$out/ports/file,$out/unit"
        ;;
    *) fail "unknown scenario" ;;
esac

# trace_port_writes: from now on, every open, write and close of the program goes to a trace
# (when strace is there), so that a write to a device that is not the unit can be seen.
trace_port_writes() {
    TRACED=""
    command -v strace >/dev/null || return 0
    strace -f -qq -p "$PROGRAM_PROCESS" -e trace=openat,close,write,writev,pwrite64 \
        -o "$out/program.strace" 2>"$out/strace.log" &
    remember $!
    for _ in $(seq 100); do
        [ "$(awk '/^TracerPid:/ {print $2}' "/proc/$PROGRAM_PROCESS/status")" != 0 ] &&
            TRACED=yes && return 0
        sleep 0.02
    done
    fail "could not trace the program"
}

# written_to PATH...: the paths that the traced program opened as a port and then wrote to.
written_to() {
    awk -v watched="$*" '
        BEGIN { n = split(watched, list, " "); for (i = 1; i <= n; i++) path[list[i]] = 1 }
        /openat\(/ && /O_NOCTTY/ {
            p = $0; sub(/^[^"]*"/, "", p); sub(/".*/, "", p)
            fd = $NF
            if ((p in path) && fd >= 0) open[fd] = p
        }
        / close\(/ { fd = $0; sub(/.*close\(/, "", fd); sub(/\).*/, "", fd); delete open[fd] }
        / (write|writev|pwrite64)\(/ {
            fd = $0; sub(/.*write[v64]*\(/, "", fd); sub(/,.*/, "", fd)
            if (fd in open) print open[fd]
        }' "$out/program.strace" | sort -u
}

if [ "$scenario" = odd-ports ]; then
    # The program meets the odd entries over and over while the unit is not there yet, traced.
    start_program "$program" "$ports"
    PROGRAM_PROCESS=$(program_process) || fail "no program process"
    trace_port_writes
    sleep 2
    start_simulator "$sim" "$image" "${sim_options[@]}" || fail "simulator"
else
    start_simulator "$sim" "$image" "${sim_options[@]}" || fail "simulator"
    start_program "$program" "$ports"
    PROGRAM_PROCESS=$(program_process) || fail "no program process"
fi
find_window "$PROGRAM_PROCESS" || fail "no window"
started=$(date +%s.%N)

wait_for_log "identification answered" 30 || fail "unit not found"
figure found_after_seconds "$(awk -v a="$started" -v b="$(date +%s.%N)" 'BEGIN {printf "%.1f", b - a}')"

case "$scenario" in
    silent-version)
        wait_for_log "falling silent instead of the version line" 5 || fail "unit did not fall silent"
        silent_since=$(date +%s.%N)
        sleep 0.5
        expect_idle waiting-for-version 3
        screenshot "$out/waiting-for-version.png"
        # After 5 s the program lets the port go and the scan goes on: the search screen is true.
        wait_for_log "port closed" 8 || fail "the port was never let go"
        figure seconds_to_let_go "$(seconds_since "$silent_since")"
        expect_screen search 2 "after letting the unit go"
        positions=""
        for _ in 1 2 3 4 5; do
            screenshot "$out/scanning.png"
            positions="$positions $(convert "$out/scanning.png" -crop 150x4+200+170 +repage \
                -format '%#' info: | cut -c 1-8)"
            sleep 0.2
        done
        [ "$(echo $positions | tr ' ' '\n' | sort -u | wc -l)" -gt 1 ] ||
            fail "the scan bar stands still:$positions"
        # Powered up again, the unit is found again; No leaves it as it was.
        kill -USR1 "$SIM_PID"
        expect_screen question 10 "the unit powered up again was not found"
        decline
        expect_eq "$(report_value protocol_errors)" 0 "protocol errors"
        ;;

    silent-programming)
        sleep 0.5
        click_yes
        wait_for_log "falling silent after 40 records" 30 || fail "unit did not fall silent"
        silent_since=$(date +%s.%N)
        expect_screen warning 13 "silence"
        waited=$(seconds_since "$silent_since")
        figure seconds_to_silence_warning "$waited"
        awk -v s="$waited" 'BEGIN {exit !(s > 9.5)}' || fail "the warning came after $waited s"
        cp "$SESSION_DIR/screen.png" "$out/warning.png"
        expect_idle silence-warning
        figure rss_kb "$(rss_kb "$PROGRAM_PROCESS")"
        # The user does what the warning says: power-up with Reset held, then Retry. The unit's
        # identification lines are no answer, so the warning and its Retry stay.
        kill -USR1 "$SIM_PID"
        wait_for_log "powered up: boot-up 2" 5 || fail "the unit did not power up again"
        sleep 1
        screenshot "$SESSION_DIR/screen.png"
        expect_eq "$(screen_kind "$SESSION_DIR/screen.png")" warning "screen after the power-up"
        click_retry
        complete_upgrade
        expect_eq "$(report_value boot_ups)" 2 "boot-ups"
        ;;

    silence-ends)
        # The unit stops for 12 s mid-upload and then answers again: the warning comes and goes,
        # and noise in the same write as each awaited line costs nothing.
        sleep 0.5
        click_yes
        wait_for_log "programming requested" 20 || fail "programming never requested"
        sleep 2
        kill -STOP "$SIM_PID"
        expect_screen warning 13 "silence"
        figure seconds_to_silence_warning "$SCREEN_SECONDS"
        kill -CONT "$SIM_PID"
        expect_screen upload 3 "the unit answered again"
        finish_upgrade
        expect_eq "$(report_value protocol_errors)" 0 "protocol errors"
        ;;

    hangup)
        sleep 0.5
        click_yes
        wait_for_log "hanging up after 50 records" 30 || fail "no hang-up"
        expect_failure_screen 2
        expect_disconnected_title
        expect_idle failure-screen
        figure rss_kb "$(rss_kb "$PROGRAM_PROCESS")"
        # The link points at the new terminal once the unit is up again.
        wait_for_log "powered up: boot-up 2" 5 || fail "the unit did not power up again"
        click_retry
        complete_upgrade
        expect_eq "$(report_value boot_ups)" 2 "boot-ups"
        ;;

    unplugged-at-question)
        # Nobody clicks: the failure screen takes the question's place.
        wait_for_log "hanging up" 10 || fail "no hang-up"
        expect_failure_screen 2
        expect_disconnected_title
        wait_for_log "powered up: boot-up 2" 5 || fail "the unit did not power up again"
        click_retry
        complete_upgrade
        expect_eq "$(report_value boot_ups)" 2 "boot-ups"
        ;;

    noise)
        sleep 0.5
        screenshot "$out/question.png"
        # No stands outside Exit's place, so this click only lands when the question is shown.
        decline
        expect_eq "$(report_value protocol_errors)" 0 "protocol errors"
        ;;

    garbage)
        wait_for_log "streaming text without line ends" 5 || fail "no stream"
        streaming_since=$(date +%s.%N)
        sleep 0.5
        rss_start=$(rss_kb "$PROGRAM_PROCESS")
        ns_start=$(cpu_ns "$PROGRAM_PROCESS")
        sleep 3.5
        rss_end=$(rss_kb "$PROGRAM_PROCESS")
        ns_end=$(cpu_ns "$PROGRAM_PROCESS")
        screenshot "$out/streaming.png"
        figure rss_kb_after_0.5s "$rss_start"
        figure rss_kb_after_4s "$rss_end"
        figure cpu_percent_streaming "$(awk -v n="$((ns_end - ns_start))" 'BEGIN {printf "%.2f", n / 3.5e7}')"
        [ "$rss_end" -le $((rss_start + RSS_MARGIN_KB)) ] ||
            fail "resident set grew from $rss_start to $rss_end KiB"
        # Text that never ends a line is no version: the port is let go, the scan goes on.
        wait_for_log "port closed" 5 || fail "the streaming unit was never let go"
        figure seconds_to_let_go "$(seconds_since "$streaming_since")"
        expect_screen search 2 "after letting the unit go"
        expect_closes
        stop_simulator
        figure bytes_streamed "$(report_value bytes_sent)"
        [ "$(report_value bytes_sent)" -gt 800000 ] ||
            fail "the stream did not flow: $(report_value bytes_sent) bytes"
        expect_eq "$(report_value bytes_received)" 1 "bytes the unit received"
        ;;

    second-copy)
        sleep 0.5
        click_yes
        wait_for_log "programming requested" 20 || fail "programming never requested"
        first_window=$WID
        first_process=$PROGRAM_PROCESS
        start_program "$program" "$ports" second
        second_process=$(program_process) || fail "no second program process"
        find_window "$second_process" || fail "no second window"
        second_window=$WID
        [ "$second_window" != "$first_window" ] || fail "both copies share one window"
        sleep 3
        screenshot "$out/second-copy.png"
        WID=$first_window
        raise_window
        screenshot "$out/first-copy.png"
        # The second copy keeps scanning, and meeting the held port over and over, meanwhile.
        wait_for_log "end-of-file record" 150 || fail "the first copy's upload did not finish"
        sleep 0.3
        raise_window
        screenshot "$out/first-success.png"
        WID=$second_window
        raise_window
        screenshot "$out/second-at-the-end.png"
        expect_closes second
        WID=$first_window
        click_ok
        wait_program 10
        expect_eq "$?" 0 "exit status of the first copy after OK"
        [ -d "/proc/$first_process" ] && fail "the first copy is still running"
        stop_simulator
        expect_eq "$(grep -c "identification answered" "$out/sim.log")" 1 "identifications answered"
        expect_eq "$(report_value protocol_errors)" 0 "protocol errors"
        expect_whole_image
        figure upload_seconds "$(report_value upload_seconds)"
        ;;

    odd-ports)
        sleep 0.5
        screenshot "$out/question.png"
        decline
        [ -e "$out/ports/missing" ] && fail "the missing path was created"
        expect_eq "$(stat -c '%s %Y %y' "$out/ports/file")" "$file_before" "the file's size and time"
        expect_eq "$(md5sum <"$out/ports/file")" "$file_sum" "the file's content"
        expect_eq "$(stat -c '%Y %y' "$out/ports/directory")" "$directory_before" "the directory's time"
        expect_eq "$(ls -A "$out/ports/directory")" "" "the directory's entries"
        if [ -n "$TRACED" ]; then
            # /dev/null shows no trace of a write by itself, so the program's calls are looked at.
            grep -q 'openat(AT_FDCWD, "/dev/null", [^)]*O_NOCTTY' "$out/program.strace" ||
                fail "the trace never saw /dev/null opened as a port"
            expect_eq "$(written_to /dev/null "$out/unit")" "$out/unit" "ports written to"
        else
            echo "strace not installed: writes to /dev/null not checked"
        fi
        ;;
esac
exit 0
