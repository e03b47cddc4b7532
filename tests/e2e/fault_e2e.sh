#!/usr/bin/env bash
# The real program against a simulated unit that misbehaves, on a private virtual display: the
# window must keep answering, the program must not spin or grow, never report a success it did
# not earn, never touch what is not the unit, and always exit with status 0.
#   fault_e2e.sh SCENARIO PROGRAM SIMULATOR IMAGE OUTDIR
# Scenarios: silent-version, silent-programming, hangup, noise, garbage, second-copy, odd-ports.
# Figures (CPU share, resident memory) are printed as "name: value" lines and kept in
# OUTDIR/figures.txt.
set -u
scenario=$1 program=$2 sim=$3 image=$4 out=$5
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../scripts/lib/session.sh"

# A window that only waits uses about 1 % of a core; a tick that spins uses all of it.
CPU_LIMIT_PERCENT=5
# How long the garbage stream runs after its first RSS sample, and how much the resident set may
# move meanwhile. Unbounded buffering at the stream's rate grows by megabytes in that time.
GARBAGE_SECONDS=${VKT5_GARBAGE_SECONDS:-50}
GARBAGE_RATE=200000
RSS_MARGIN_KB=1024

figure() { echo "$1: $2" | tee -a "$out/figures.txt"; }

# expect_idle WHAT: the program uses less than CPU_LIMIT_PERCENT of a core over five seconds.
expect_idle() {
    percent=$(cpu_percent 5 "$PROGRAM_PROCESS")
    figure "cpu_percent_$1" "$percent"
    awk -v p="$percent" -v limit="$CPU_LIMIT_PERCENT" 'BEGIN {exit !(p < limit)}' ||
        fail "$1: the program used $percent % of a core"
}

# expect_no_success: where OK would stand there is nothing to click, so the program stays.
expect_no_success() {
    click 277 212
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
    hangup) sim_options=(--hangup-after 100) ;;
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
        sleep 0.5
        expect_idle waiting-for-version
        screenshot "$out/waiting-for-version.png"
        # Still on the search screen: Exit answers.
        click 277 212
        wait_program 10
        expect_eq "$?" 0 "exit status after Exit"
        stop_simulator
        expect_eq "$(report_value bytes_received)" 1 "bytes the unit received"
        expect_eq "$(report_value protocol_errors)" 0 "protocol errors"
        ;;

    silent-programming | hangup)
        sleep 0.5
        click 217 212
        if [ "$scenario" = hangup ]; then
            wait_for_log "hanging up after 100 records" 30 || fail "no hang-up"
            expected_records=100
        else
            wait_for_log "falling silent after 40 records" 30 || fail "unit did not fall silent"
            expected_records=40
        fi
        sleep 1
        screenshot "$out/after-fault.png"
        expect_idle after-fault
        expect_no_success
        [ -d "/proc/$PROGRAM_PROCESS" ] || fail "the program is gone"
        figure rss_kb "$(rss_kb "$PROGRAM_PROCESS")"
        expect_closes
        stop_simulator
        expect_eq "$(report_value records_received)" "$expected_records" "records sent"
        expect_eq "$(report_value bad_records)" 0 "bad records"
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
        sleep 5
        rss_start=$(rss_kb "$PROGRAM_PROCESS")
        cpu_start=$(cpu_mark "$PROGRAM_PROCESS")
        sleep "$GARBAGE_SECONDS"
        rss_end=$(rss_kb "$PROGRAM_PROCESS")
        cpu_streaming=$(cpu_since "$cpu_start" "$PROGRAM_PROCESS")
        screenshot "$out/streaming.png"
        figure rss_kb_after_5s "$rss_start"
        figure rss_kb_after_$((5 + GARBAGE_SECONDS))s "$rss_end"
        figure cpu_percent_streaming "$cpu_streaming"
        [ "$rss_end" -le $((rss_start + RSS_MARGIN_KB)) ] ||
            fail "resident set grew from $rss_start to $rss_end KiB"
        expect_closes
        stop_simulator
        figure bytes_streamed "$(report_value bytes_sent)"
        [ "$(report_value bytes_sent)" -gt $((GARBAGE_RATE * GARBAGE_SECONDS / 2)) ] ||
            fail "the stream did not flow: $(report_value bytes_sent) bytes"
        expect_eq "$(report_value bytes_received)" 1 "bytes the unit received"
        ;;

    second-copy)
        sleep 0.5
        click 217 212
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
        click 277 212
        wait_program 10
        expect_eq "$?" 0 "exit status of the first copy after OK"
        [ -d "/proc/$first_process" ] && fail "the first copy is still running"
        stop_simulator
        expect_eq "$(grep -c "identification answered" "$out/sim.log")" 1 "identifications answered"
        expect_eq "$(report_value protocol_errors)" 0 "protocol errors"
        expect_eq "$(report_value records_received)" 2263 "records received"
        expect_eq "$(report_value bad_records)" 0 "bad records"
        expect_eq "$(report_value flash_matches_image)" yes "flash equals the image"
        expect_eq "$(report_value records_in_order)" yes "records in order"
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
