#!/bin/bash
# The Windows program end to end under Wine, against the unit simulator on COM3, clicked through
# with xdotool as a person would, with a screenshot of every screen.
#
#   upgrade_e2e.sh SCENARIO WINE_RUN PROGRAM PROBE IMAGE OUT_DIR
#
# Scenarios:
#   upgrade              Yes, the whole image, OK: the simulator's flash equals the image
#   decline              No at the version prompt: nothing programmed
#   exit                 Exit on the search screen while no unit answers
#   close_during_upload  the window's close command in the middle of programming
#   noise                noise lines with NUL and DEL bytes around the identification: the unit is
#                        still found, the question shown, No ends the program
# and a unit that misbehaves, where the window must keep answering, the program must not spin,
# and every fault must be told, with Retry leading to a complete upgrade of the unit powered up
# again (the simulator boots afresh: --power-up-after, or SIGUSR1 where the test says when):
#   silent_version       the unit answers the identification, then never sends its version: the
#                        search screen stays, the CPU stays low, the port is let go after 5 s and
#                        the scan finds the unit again once it is powered up; No ends the program
#   done_early           the unit says "Done" instead of the prompt for record 51, and echoes
#                        every record line before its prompt: the failure screen (ended early,
#                        after 50 lines) at once, the CPU low there; Retry, and the upgrade
#                        completes through the echo
#   hangup               the unit repeats its identification every 10 ms behind 20 ms of reply
#                        latency (the question still reads the real version), then closes its
#                        line instead of the prompt for record 51: the failure screen
#                        (disconnected) at once, the CPU low there; Retry finds the unit on the
#                        new terminal behind COM3, and the upgrade completes under the latency
#   silent_upload        the unit falls silent after record 50, with a noise line in the same
#                        write before each awaited line: the upload screen shows the no-answer
#                        warning with Retry and Exit after 10 s, the CPU low meanwhile; Retry,
#                        the unit powered up, and the upgrade completes through the noise
#   unplug_question      the unit is unplugged while the question is shown, and puts stray bytes
#                        without a line end before every prompt: the failure screen (before the
#                        upgrade began) without a click; Retry, and the upgrade completes
# With VKT5_E2E_FAULT_ONLY=1 a fault scenario ends after the fault's checks (the window closed),
# for repeating its time and CPU checks without the upload that follows Retry.
# Every scenario ends with the program's exit status 0. The simulator is $VKT5_SIM, else the
# configured one ($VKT5_SIM_DEFAULT); without one the test is skipped (status 77).
#
# VKT5_E2E_FAST=1 runs the program in fast mode (VKT5_FAST=1). The unit then takes 5 ms per
# record, so that the upload screen stays long enough to be looked at, and the upgrade scenario
# must get from Yes to the success screen in a fraction of the tick bound (67.89 s).
#
# CPU is the share of one core that the program's Wine process and the prefix's wineserver used
# together over 5 s (4 s while a version is awaited), from the scheduler's nanosecond counters: a
# tick that spins, or a wineserver polling a dead line, shows there. Times to a failure screen are
# taken from the moment the simulator's trace shows the fault to the moment the window probe finds
# the Retry button; the probe's own start under Wine (a few tenths of a second) is included. Both
# go to figures.txt in the output directory.
#
# Not shown under Wine: Wine opens COM ports without exclusion, so a second copy of the program
# opens the port that the first one holds and talks over it; that fault (and the program's answer
# to a port in use) can only be tested on Windows itself.
set -u
here="$(cd "$(dirname "$0")" && pwd)"
scenario="${1:?scenario}"
wine_run="${2:?wine-run wrapper}"
program="${3:?program}"
probe="${4:?window probe}"
image="${5:?image}"
out="${6:?output directory}"
source "$here/wine_env.sh"
source "$here/../../scripts/lib/cpu.sh"

sim="${VKT5_SIM:-${VKT5_SIM_DEFAULT:-}}"
if [ -z "$sim" ] || [ ! -x "$sim" ]; then
    echo "SKIP: no unit simulator (set VKT5_SIM to the Linux build's vkt5-unit-sim)"
    exit 77
fi

title="Corvane"
port=3
rm -rf "$out"
mkdir -p "$out"
sim_pid=""
program_pid=""
failures=0

fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

cleanup() {
    vkt5_unmap_port "$port"
    if [ -n "$program_pid" ] && kill -0 "$program_pid" 2>/dev/null; then
        kill "$program_pid" 2>/dev/null
        wait "$program_pid" 2>/dev/null
    fi
    if [ -n "$sim_pid" ] && kill -0 "$sim_pid" 2>/dev/null; then
        kill "$sim_pid" 2>/dev/null
        wait "$sim_pid" 2>/dev/null
    fi
}
trap cleanup EXIT

# --- the unit ---------------------------------------------------------------------------------
# The unit's terminal is reached through a link of the simulator's own, which it renames over to
# the new terminal when it comes back after a hang-up; COM3 points at that link.
sim_args=(--link "$out/unit" --report "$out/sim-report.txt" --compare-image "$image" --verbose)
# A unit that comes back after its fault: two boot-ups, and the simulator ends once the second
# has taken the whole image.
again=(--units 2 --exit-after-eof)
FAST_UPLOAD_LIMIT_SECONDS=30
if [ "${VKT5_E2E_FAST:-0}" = 1 ]; then
    export VKT5_FAST=1
    sim_args+=(--record-delay 5)
fi
case "$scenario" in
    upgrade | decline | close_during_upload) sim_args+=(--exit-on-close) ;;
    exit) sim_args+=(--silent --exit-on-close) ;;
    noise) sim_args+=(--noise --exit-on-close) ;;
    silent_version) sim_args+=(--silent-after-ident --power-up-after 7000 "${again[@]}") ;;
    done_early) sim_args+=(--done-after 50 --echo --power-up-after 300 "${again[@]}") ;;
    hangup)
        sim_args+=(--hangup-after 50 --ident-interval 10 --reply-latency 20 --power-up-after 500
            "${again[@]}")
        ;;
    silent_upload) sim_args+=(--silent-after 50 --noise --noise-gap 0 "${again[@]}") ;;
    unplug_question)
        sim_args+=(--hangup-at-question 1500 --stray-before-prompt --power-up-after 500
            "${again[@]}")
        ;;
esac
"$sim" "${sim_args[@]}" >"$out/sim-stdout.txt" 2>"$out/sim-stderr.txt" &
sim_pid=$!
for _ in $(seq 1 100); do
    [ -L "$out/unit" ] && break
    sleep 0.05
done
if [ ! -L "$out/unit" ]; then
    echo "the simulator gave no pty"
    cat "$out/sim-stderr.txt"
    exit 1
fi
vkt5_map_port "$port" "$out/unit"
echo "simulator on $(head -n1 "$out/sim-stdout.txt") as COM$port"

# --- helpers ----------------------------------------------------------------------------------
probe_window() {
    # probe_window NAME [probe options]: the probe's report, kept as $out/probe-NAME.txt
    local name="$1"
    shift
    # A Windows console program ends its lines with CR LF.
    "$wine_run" "$probe" "$title" "$@" 2>/dev/null | tr -d '\r' >"$out/probe-$name.txt"
    return "${PIPESTATUS[0]}"
}

value() {
    # value NAME KEY: a key's value from a probe report
    sed -n "s/^$2=//p" "$out/probe-$1.txt" | head -n1
}

window_id=""
find_window() {
    window_id="$(timeout 30 xdotool search --sync --onlyvisible --name "$title" 2>/dev/null |
        head -n1)"
    [ -n "$window_id" ]
}

screenshot() {
    # The window as the X server shows it, frame included.
    import -display "$DISPLAY" -window "$window_id" "$out/screen-$1.png" 2>/dev/null ||
        fail "no screenshot $1"
}

click_client() {
    # click_client X Y: a click at client coordinates, made window-relative with the frame
    # offset the probe measured.
    local offset fx fy
    offset="$(value search frame_offset)"
    fx="${offset%,*}"
    fy="${offset#*,}"
    xdotool mousemove --window "$window_id" $(($1 + fx)) $(($2 + fy)) click 1
}

wait_program() {
    # wait_program SECONDS: the program's exit status, or 124 if it is still running.
    local end=$((SECONDS + $1))
    while kill -0 "$program_pid" 2>/dev/null; do
        if [ $SECONDS -ge $end ]; then
            return 124
        fi
        sleep 0.1
    done
    wait "$program_pid"
    local status=$?
    program_pid=""
    return $status
}

elapsed() {
    awk -v from="$1" -v to="$2" 'BEGIN { printf "%.2f", to - from }'
}

report_value() {
    sed -n "s/^$1: *//p" "$out/sim-report.txt" 2>/dev/null | head -n1
}

expect_report() {
    # expect_report KEY VALUE: a value of the simulator's report
    local got
    got="$(report_value "$1")"
    [ "$got" = "$2" ] || fail "the unit's $1 is '$got', not '$2'"
}

stop_simulator() {
    # Lets the simulator write its report, if it has not ended by itself already.
    if [ -n "$sim_pid" ]; then
        kill "$sim_pid" 2>/dev/null
        wait "$sim_pid" 2>/dev/null
        sim_pid=""
    fi
}

wait_sim_log() {
    # wait_sim_log TEXT SECONDS: waits until the simulator's trace shows TEXT.
    local end=$((SECONDS + $2))
    until grep -qF -- "$1" "$out/sim-stderr.txt" 2>/dev/null; do
        [ $SECONDS -lt $end ] || return 1
        sleep 0.05
    done
}

wineserver_pid() {
    # The wineserver of this prefix: there is one per prefix, and it carries the prefix in its
    # environment.
    local dir
    for dir in /proc/[0-9]*; do
        case "$(cat "$dir/comm" 2>/dev/null)" in
            wineserver*) ;;
            *) continue ;;
        esac
        if tr '\0' '\n' 2>/dev/null <"$dir/environ" | grep -qxF "WINEPREFIX=$WINEPREFIX"; then
            echo "${dir#/proc/}"
            return 0
        fi
    done
    return 1
}

# The share of one core allowed while the program only waits. The program and the wineserver
# together use about 1 % waiting for a version line and under 1 % on the failure screen (the port
# closed) or under the no-answer warning (every tick still asks the wineserver about the line); a
# tick that spins, or a wineserver polling a dead line, takes most of a core even on a loaded
# machine. The limit stays far from both.
IDLE_LIMIT_PERCENT=10

expect_idle() {
    # expect_idle WHAT [SECONDS]: the program's Wine process and the wineserver together, over
    # 5 s or as many seconds as given.
    local seconds="${2:-5}" server mark_all mark_program mark_server percent program server_share
    case "$(cat "/proc/$program_pid/comm" 2>/dev/null)" in
        vkt5-upgrade*) ;;
        *)
            fail "$1: the program's process is not $program_pid"
            return
            ;;
    esac
    server="$(wineserver_pid)" || {
        fail "$1: no wineserver for $WINEPREFIX"
        return
    }
    mark_all=$(cpu_mark "$program_pid" "$server")
    mark_program=$(cpu_mark "$program_pid")
    mark_server=$(cpu_mark "$server")
    sleep "$seconds"
    percent=$(cpu_since "$mark_all" "$program_pid" "$server")
    program=$(cpu_since "$mark_program" "$program_pid")
    server_share=$(cpu_since "$mark_server" "$server")
    echo "cpu_percent_$1: $percent (program $program, wineserver $server_share)" |
        tee -a "$out/figures.txt"
    awk -v p="$percent" -v limit="$IDLE_LIMIT_PERCENT" 'BEGIN { exit !(p < limit) }' ||
        fail "$1: $percent % of a core"
}

sim_log_count() {
    # sim_log_count TEXT: how many lines of the simulator's trace show TEXT.
    grep -cF -- "$1" "$out/sim-stderr.txt" 2>/dev/null
}

wait_sim_log_count() {
    # wait_sim_log_count TEXT COUNT SECONDS: waits until TEXT shows on COUNT lines of the trace.
    local end=$((SECONDS + $3))
    until [ "$(sim_log_count "$1")" -ge "$2" ]; do
        [ $SECONDS -lt $end ] || return 1
        sleep 0.05
    done
}

figure() {
    # figure NAME VALUE: one measured figure, shown and kept.
    echo "$1: $2" | tee -a "$out/figures.txt"
}

within() {
    # within VALUE LOW HIGH: LOW <= VALUE <= HIGH
    awk -v v="$1" -v lo="$2" -v hi="$3" 'BEGIN { exit !(v >= lo && v <= hi) }'
}

# A failure, or the unit lost, is told at once: the next tick sees it.
FAILURE_SCREEN_LIMIT_S=3

expect_failure_screen() {
    # expect_failure_screen NAME TITLE PLACE: the failure screen after a fault that the trace
    # has just shown (at $fault_at), within the limit, with its texts and buttons.
    local name="$1" waited
    probe_window "$name" --wait-control 114 --timeout 10 || fail "no Retry button after the fault"
    waited=$(elapsed "$fault_at" "$(date +%s.%N)")
    figure "seconds_to_failure_screen_$scenario" "$waited"
    within "$waited" 0 "$FAILURE_SCREEN_LIMIT_S" ||
        fail "the failure screen came $waited s after the fault (limit $FAILURE_SCREEN_LIMIT_S s)"
    grep -qF "id=103 class=Static style=0x50012000 exstyle=0x00000000 rect=175,50,488,18 visible=1 text=\"$2\"" \
        "$out/probe-$name.txt" || fail "failure title is not '$2'"
    grep -qF "id=104 class=Static style=0x50012000 exstyle=0x00000000 rect=175,75,488,18 visible=1 text=\"$3\"" \
        "$out/probe-$name.txt" || fail "failure place is not '$3'"
    grep -q 'id=109 class=Static .*rect=179,100,316,54 visible=1 text=".*Reset button.*Retry' \
        "$out/probe-$name.txt" || fail "no advice on the failure screen"
    grep -q 'id=114 class=Button .*rect=170,200,94,24 visible=1 text="Retry"' "$out/probe-$name.txt" ||
        fail "Retry button"
    grep -q 'id=110 class=Button .*rect=280,200,94,24 visible=1 text="Exit"' "$out/probe-$name.txt" ||
        fail "Exit button"
    [ "$(value "$name" default_id)" = "114" ] || fail "Retry is not the default button"
    if grep -qE '^control id=(105|106|107|108|111|112|113|115) ' "$out/probe-$name.txt"; then
        fail "controls of another screen beside the failure screen"
    fi
    screenshot "$name"
}

fault_only() {
    # With VKT5_E2E_FAULT_ONLY set the scenario ends here, the window closed.
    [ -n "${VKT5_E2E_FAULT_ONLY:-}" ] || return 1
    probe_window close --close
    wait_program 10
    local status=$?
    [ $status -eq 0 ] || fail "exit status $status after closing"
    return 0
}

answer_yes() {
    # The question with the unit's real version; Yes; the upload screen.
    probe_window "$1" --wait-control 111 --timeout 60 || {
        fail "no version prompt"
        exit 1
    }
    grep -q 'id=103 .*text=" Would you like to upgrade V1.001"' "$out/probe-$1.txt" ||
        fail "question text: $(grep '^control id=103 ' "$out/probe-$1.txt")"
    grep -q 'text=" to version V1.002?"' "$out/probe-$1.txt" || fail "target version"
    [ "$(value "$1" default_id)" = "112" ] || fail "default button $(value "$1" default_id)"
    screenshot "$1"
    click_client $((170 + 47)) $((200 + 12))
    yes_at=$(date +%s.%N)
    probe_window "$1-upload" --wait-control 106 --timeout 10 || fail "no upload screen"
}

finish_upgrade() {
    # finish_upgrade BOOT_UPS: the success screen, OK, exit status 0, and the unit's flash equal
    # to the image after BOOT_UPS boot-ups.
    probe_window success --wait-control 113 --timeout 400 || fail "no success screen"
    done_at=$(date +%s.%N)
    echo "upload: $(elapsed "$yes_at" "$done_at") s from Yes to the success screen"
    if [ "${VKT5_E2E_FAST:-0}" = 1 ]; then
        awk -v s="$(elapsed "$yes_at" "$done_at")" -v l=$FAST_UPLOAD_LIMIT_SECONDS \
            'BEGIN { exit !(s < l) }' || fail "fast mode: the upload took too long"
    fi
    screenshot success
    grep -q 'text=" Programming was successful"' "$out/probe-success.txt" || fail "success text"
    [ "$(value success default_id)" = "113" ] || fail "OK is not the default"
    click_client $((230 + 47)) $((200 + 12))
    wait_program 20
    local status=$?
    [ $status -eq 0 ] || fail "exit status $status after OK"
    for _ in $(seq 1 50); do
        kill -0 "$sim_pid" 2>/dev/null || break
        sleep 0.1
    done
    stop_simulator
    cat "$out/sim-report.txt"
    expect_report flash_matches_image yes
    expect_report records_received 2263
    expect_report bad_records 0
    expect_report protocol_errors 0
    expect_report boot_ups "$1"
}

retry_to_success() {
    # retry_to_success X Y: Retry at those client coordinates, the search screen again, then the
    # whole upgrade of the unit that was powered up again.
    click_client "$1" "$2"
    probe_window search_again --wait-control 105 --timeout 10 || fail "no search screen after Retry"
    grep -q '^control id=114 ' "$out/probe-search_again.txt" && fail "Retry still there"
    grep -q '^control id=110 .*rect=230,200,94,24' "$out/probe-search_again.txt" ||
        fail "the search screen's Exit button"
    answer_yes again
    finish_upgrade 2
}

expect_no_crash() {
    if grep -qiE 'unhandled (exception|page fault)|backtrace' "$out/program-stderr.txt"; then
        fail "the program crashed: $(head -n3 "$out/program-stderr.txt")"
    fi
}

# --- the program ------------------------------------------------------------------------------
started=$(date +%s.%N)
"$wine_run" "$program" >"$out/program-stdout.txt" 2>"$out/program-stderr.txt" &
program_pid=$!
find_window || {
    echo "no window titled $title"
    exit 1
}
shown=$(date +%s.%N)
echo "window shown after $(elapsed "$started" "$shown") s"

# The search screen: window, client area, controls.
probe_window search --wait-control 105 || fail "search screen not complete"
screenshot search
client="$(value search client)"
[ "$client" = "500,240" ] || fail "client area is $client, not 500,240"
# The template's style, shown, with the clipping of siblings that every top-level window has.
[ "$(value search style)" = "0x14C80854" ] || fail "dialog style $(value search style)"
[ "$(value search default_id)" = "110" ] || fail "default button $(value search default_id)"
grep -q 'id=180 class=Static style=0x5000000E' "$out/probe-search.txt" || fail "logo control"
grep -q 'id=101 class=Static style=0x50012000 exstyle=0x00000000 rect=175,8,488,18' \
    "$out/probe-search.txt" || fail "banner control"
grep -q 'id=110 class=Button style=0x50000001 exstyle=0x00000000 rect=230,200,94,24' \
    "$out/probe-search.txt" || fail "Exit button"
grep -qi 'id=107 class=msctls_progress32 style=0x50000001' "$out/probe-search.txt" ||
    fail "scan progress bar"
read -r geometry < <(xwininfo -id "$window_id" | awk '/Width:/{w=$2} /Height:/{h=$2} END{print w "x" h}')
echo "X window ${geometry}, Win32 window $(value search window), client $client," \
    "frame offset $(value search frame_offset), work area $(value search work_area)"

# The centring rule over the work area, with the window's outer size.
IFS=, read -r wx wy ww wh <<<"$(value search window)"
IFS=, read -r ax ay aw ah <<<"$(value search work_area)"
ex=$(((ax + ax + aw - ww) / 2))
ey=$(((ay + ay + ah - wh) / 2))
[ "$wx,$wy" = "$ex,$ey" ] || fail "window at $wx,$wy, centred would be $ex,$ey"

# The banner's dark blue: some pixels of the banner's text are red 0, green 0, blue 140.
IFS=, read -r fx fy <<<"$(value search frame_offset)"
blue=$(convert "$out/screen-search.png" -crop "300x18+$((175 + fx))+$((8 + fy))" +repage \
    -fill white +opaque 'rgb(0,0,140)' -fill black -opaque 'rgb(0,0,140)' \
    -format '%[fx:int(w*h*(1-mean)+0.5)]' info:)
[ "${blue:-0}" -gt 20 ] || fail "banner text not dark blue ($blue pixels)"

case "$scenario" in
    exit)
        sleep 1
        click_client $((230 + 47)) $((200 + 12))
        wait_program 20
        status=$?
        [ $status -eq 0 ] || fail "exit status $status after Exit"
        ;;

    silent_version)
        wait_sim_log "falling silent instead of the version line" 30 || fail "the unit never fell silent"
        closes=$(sim_log_count "port closed")
        sleep 0.5
        # Within the 5 s that the program waits for the version.
        expect_idle waiting_for_version 4
        probe_window waiting --wait-control 110 --timeout 5 || fail "no Exit button while waiting"
        grep -q '^control id=111 ' "$out/probe-waiting.txt" && fail "a question without a version"
        grep -q '^control id=105 ' "$out/probe-waiting.txt" || fail "not searching any more"
        screenshot waiting_for_version
        # The port let go: the trace has both moments.
        wait_sim_log_count "port closed" $((closes + 1)) 10 || fail "the port was never let go"
        silent_at=$(grep -F "falling silent instead" "$out/sim-stderr.txt" | head -n1 | tr -d '[' | awk '{print $1}')
        closed_at=$(grep -F "port closed" "$out/sim-stderr.txt" | sed -n "$((closes + 1))p" | tr -d '[' | awk '{print $1}')
        let_go=$(elapsed "$silent_at" "$closed_at")
        figure seconds_to_let_go "$let_go"
        within "$let_go" 4.5 7 || fail "the port was let go $let_go s after the silence, not about 5 s"
        # The scan goes on: the unit powered up again is found and asked about.
        probe_window prompt --wait-control 111 --timeout 30 || fail "the unit was not found again"
        grep -q 'id=103 .*text=" Would you like to upgrade V1.001"' "$out/probe-prompt.txt" ||
            fail "question text"
        click_client $((280 + 47)) $((200 + 12))
        wait_program 20
        status=$?
        [ $status -eq 0 ] || fail "exit status $status after No"
        stop_simulator
        expect_report boot_ups 2
        expect_report records_received 0
        expect_report protocol_errors 0
        ;;

    decline | noise)
        probe_window prompt --wait-control 111 --timeout 60 || {
            fail "no version prompt"
            exit 1
        }
        screenshot prompt
        grep -q 'id=103 .*text=" Would you like to upgrade V1.001"' "$out/probe-prompt.txt" ||
            fail "question text"
        grep -q 'text=" to version V1.002?"' "$out/probe-prompt.txt" || fail "target version"
        [ "$(value prompt default_id)" = "112" ] || fail "default button $(value prompt default_id)"
        click_client $((280 + 47)) $((200 + 12))
        wait_program 20
        status=$?
        [ $status -eq 0 ] || fail "exit status $status after No"
        # The unit was never told to program, so it waits on; stopping it writes its report.
        stop_simulator
        received="$(report_value records_received)"
        [ "${received:-0}" = 0 ] || fail "the unit received $received records after No"
        # The identification's answer and nothing else: the noise was not taken for a line.
        expect_report bytes_received 1
        expect_report protocol_errors 0
        ;;

    unplug_question)
        probe_window prompt --wait-control 111 --timeout 60 || {
            fail "no version prompt"
            exit 1
        }
        wait_sim_log "hanging up at the question" 10 || fail "the unit was never unplugged"
        fault_at=$(date +%s.%N)
        expect_failure_screen failure " VKT-5 was disconnected" " before the upgrade began"
        expect_no_crash
        fault_only || retry_to_success $((170 + 47)) $((200 + 12))
        ;;

    upgrade | close_during_upload | done_early | hangup | silent_upload)
        answer_yes prompt
        case "$scenario" in
            upgrade | close_during_upload)
                sleep 3
                screenshot upload
                probe_window upload --wait-control 106 --timeout 5
                grep -q 'id=106 .*text=" Uploading firmware \.\.\. *[0-9]*%"' "$out/probe-upload.txt" ||
                    fail "upload text"
                [ "$(value upload default_id)" = "0" ] || fail "a default button during the upload"
                ;;
        esac
        case "$scenario" in
            close_during_upload)
                probe_window close --close
                wait_program 10
                status=$?
                [ $status -eq 0 ] || fail "exit status $status after closing during the upload"
                ;;
            upgrade)
                # Enter while no button exists must not end the upload.
                probe_window enter --key return
                sleep 1
                kill -0 "$program_pid" 2>/dev/null || fail "Enter during the upload ended it"
                finish_upgrade 1
                ;;
            done_early | hangup)
                if [ "$scenario" = done_early ]; then
                    wait_sim_log "saying Done after 50 records" 60 || fail "the unit never said Done"
                    fault_at=$(date +%s.%N)
                    expect_failure_screen failure " VKT-5 ended the programming early" \
                        " after 50 of 2263 lines (2%)"
                else
                    wait_sim_log "hanging up after 50 records" 60 || fail "the unit never hung up"
                    fault_at=$(date +%s.%N)
                    expect_failure_screen failure " VKT-5 was disconnected" \
                        " after 50 of 2263 lines (2%)"
                fi
                expect_idle failure_screen
                kill -0 "$program_pid" 2>/dev/null || fail "the program is gone after the fault"
                expect_no_crash
                fault_only || retry_to_success $((170 + 47)) $((200 + 12))
                ;;
            silent_upload)
                wait_sim_log "falling silent after 50 records" 60 || fail "the unit never fell silent"
                fault_at=$(date +%s.%N)
                probe_window no_answer --wait-control 114 --timeout 20 ||
                    fail "no warning after 20 s of silence"
                waited=$(elapsed "$fault_at" "$(date +%s.%N)")
                figure seconds_to_no_answer_warning "$waited"
                # Counted from the unit's last byte, which came just before the trace line.
                within "$waited" 9.5 13 || fail "the warning came $waited s after the silence, not 10 s"
                grep -q 'id=109 class=Static .*rect=179,100,316,54 visible=1 text="No answer from VKT-5 for 10 s\.' \
                    "$out/probe-no_answer.txt" || fail "warning text"
                grep -q 'id=106 .*text=" Uploading firmware \.\.\. *2%"' "$out/probe-no_answer.txt" ||
                    fail "the upload screen is not kept under the warning"
                grep -q '^control id=108 ' "$out/probe-no_answer.txt" || fail "no upload bar"
                grep -q 'id=114 class=Button .*rect=170,208,94,24 visible=1 text="Retry"' \
                    "$out/probe-no_answer.txt" || fail "Retry button"
                grep -q 'id=110 class=Button .*rect=280,208,94,24 visible=1 text="Exit"' \
                    "$out/probe-no_answer.txt" || fail "Exit button"
                screenshot no_answer
                expect_idle no_answer_warning
                expect_no_crash
                if ! fault_only; then
                    # Retry first: the unit powered up while the upload waits would only be
                    # heard identifying itself (see the report).
                    click_client $((170 + 47)) $((208 + 12))
                    probe_window search_after --wait-control 105 --timeout 10 ||
                        fail "no search screen after Retry"
                    kill -USR1 "$sim_pid"
                    answer_yes again
                    finish_upgrade 2
                fi
                ;;
        esac
        ;;
    *)
        echo "unknown scenario $scenario"
        exit 2
        ;;
esac

if kill -0 "$program_pid" 2>/dev/null; then
    fail "the program is still running"
fi
echo "screenshots: $(ls "$out"/screen-*.png 2>/dev/null | tr '\n' ' ')"
if [ $failures -ne 0 ]; then
    echo "$failures failure(s)"
    exit 1
fi
echo "PASS $scenario"
