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
# and a unit that misbehaves, where the window must keep answering, the program must not spin,
# and no success may be shown that was not earned:
#   silent_version       the unit answers the identification, then never sends its version: the
#                        search screen stays, the CPU stays low, Exit ends the program
#   done_early           the unit says "Done" instead of the prompt for record 41: no success
#                        screen (a click where OK would stand does nothing), the close command ends
#                        the program, the unit holds 40 records
#   hangup               the unit closes its line instead of the prompt for record 101: no success
#                        screen, no crash, the CPU stays low, the close command ends the program
#   noise                noise lines with NUL and DEL bytes around the identification: the unit is
#                        still found, the question shown, No ends the program
# Every scenario ends with the program's exit status 0. The simulator is $VKT5_SIM, else the
# configured one ($VKT5_SIM_DEFAULT); without one the test is skipped (status 77).
#
# VKT5_E2E_FAST=1 runs the program in fast mode (VKT5_FAST=1). The unit then takes 5 ms per
# record, so that the upload screen stays long enough to be looked at, and the upgrade scenario
# must get from Yes to the success screen in a fraction of the tick bound (67.89 s).
#
# CPU is the share of one core that the program's Wine process and the prefix's wineserver used
# together over 3 s: a tick that spins, or a wineserver polling a dead line, shows there.
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
sim_args=(--report "$out/sim-report.txt" --compare-image "$image" --exit-on-close)
FAST_UPLOAD_LIMIT_SECONDS=30
if [ "${VKT5_E2E_FAST:-0}" = 1 ]; then
    export VKT5_FAST=1
    sim_args+=(--record-delay 5)
fi
case "$scenario" in
    exit) sim_args+=(--silent) ;;
    silent_version) sim_args+=(--silent-after-ident --verbose) ;;
    done_early) sim_args+=(--done-after 40 --verbose) ;;
    hangup) sim_args+=(--hangup-after 100 --verbose) ;;
    noise) sim_args+=(--noise --verbose) ;;
esac
"$sim" "${sim_args[@]}" >"$out/sim-stdout.txt" 2>"$out/sim-stderr.txt" &
sim_pid=$!
for _ in $(seq 1 100); do
    [ -s "$out/sim-stdout.txt" ] && break
    sleep 0.05
done
pty="$(head -n1 "$out/sim-stdout.txt")"
if [ -z "$pty" ] || [ ! -e "$pty" ]; then
    echo "the simulator gave no pty"
    cat "$out/sim-stderr.txt"
    exit 1
fi
vkt5_map_port "$port" "$pty"
echo "simulator on $pty as COM$port"

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

cpu_ticks() {
    # User plus system time so far, in clock ticks, counted from after the name's parenthesis
    # because the name may hold blanks.
    sed 's/.*) //' "/proc/$1/stat" 2>/dev/null | awk '{print $12 + $13}'
}

expect_idle() {
    # expect_idle WHAT: the program's Wine process and the wineserver together use less than
    # 5 % of one core over 3 s.
    local server p0 s0 p1 s1 w0 w1 percent
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
    p0=$(cpu_ticks "$program_pid") s0=$(cpu_ticks "$server") w0=$(date +%s.%N)
    sleep 3
    p1=$(cpu_ticks "$program_pid") s1=$(cpu_ticks "$server") w1=$(date +%s.%N)
    percent=$(awk -v t="$((p1 - p0 + s1 - s0))" -v hz="$(getconf CLK_TCK)" -v a="$w0" -v b="$w1" \
        'BEGIN { printf "%.1f", 100 * t / hz / (b - a) }')
    echo "cpu_percent_$1: $percent (program $((p1 - p0)), wineserver $((s1 - s0)) ticks)" |
        tee -a "$out/figures.txt"
    awk -v p="$percent" 'BEGIN { exit !(p < 5) }' || fail "$1: $percent % of a core"
}

expect_no_success() {
    # No OK button, and a click where it would stand leaves the program running.
    probe_window fault
    grep -q '^control id=106 ' "$out/probe-fault.txt" || fail "the upload screen is gone"
    if grep -q '^control id=113 ' "$out/probe-fault.txt"; then
        fail "a success screen after the unit's fault"
    fi
    click_client $((230 + 47)) $((200 + 12))
    wait_program 2
    local status=$?
    [ $status -eq 124 ] || fail "a click where OK would stand ended the program (status $status)"
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
        sleep 0.5
        expect_idle waiting_for_version
        # Still the search screen: no question, and Exit answers.
        probe_window waiting --wait-control 110 --timeout 5 || fail "no Exit button while waiting"
        grep -q '^control id=111 ' "$out/probe-waiting.txt" && fail "a question without a version"
        screenshot waiting_for_version
        click_client $((230 + 47)) $((200 + 12))
        wait_program 20
        status=$?
        [ $status -eq 0 ] || fail "exit status $status after Exit"
        stop_simulator
        expect_report bytes_received 1
        expect_report protocol_errors 0
        ;;

    upgrade | decline | close_during_upload | done_early | hangup | noise)
        probe_window prompt --wait-control 111 --timeout 60 || {
            fail "no version prompt"
            exit 1
        }
        screenshot prompt
        grep -q 'id=103 .*text=" Would you like to upgrade V1.001"' "$out/probe-prompt.txt" ||
            fail "question text"
        grep -q 'text=" to version V1.002?"' "$out/probe-prompt.txt" || fail "target version"
        [ "$(value prompt default_id)" = "112" ] || fail "default button $(value prompt default_id)"

        if [ "$scenario" = decline ] || [ "$scenario" = noise ]; then
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
        else
            click_client $((170 + 47)) $((200 + 12))
            yes_at=$(date +%s.%N)
            probe_window upload --wait-control 106 --timeout 10 || fail "no upload screen"
            sleep 3
            screenshot upload
            probe_window upload --wait-control 106 --timeout 5
            grep -q 'id=106 .*text=" Uploading firmware \.\.\. *[0-9]*%"' "$out/probe-upload.txt" ||
                fail "upload text"
            [ "$(value upload default_id)" = "0" ] || fail "a default button during the upload"

            if [ "$scenario" = close_during_upload ]; then
                probe_window close --close
                wait_program 10
                status=$?
                [ $status -eq 0 ] || fail "exit status $status after closing during the upload"
            elif [ "$scenario" = done_early ] || [ "$scenario" = hangup ]; then
                if [ "$scenario" = done_early ]; then
                    wait_sim_log "saying Done after 40 records" 30 || fail "the unit never said Done"
                    expected_records=40
                else
                    wait_sim_log "hanging up after 100 records" 30 || fail "the unit never hung up"
                    expected_records=100
                fi
                sleep 1
                screenshot after_fault
                expect_idle after_fault
                expect_no_success
                kill -0 "$program_pid" 2>/dev/null || fail "the program is gone after the fault"
                expect_no_crash
                probe_window close --close
                wait_program 10
                status=$?
                [ $status -eq 0 ] || fail "exit status $status after closing"
                stop_simulator
                cat "$out/sim-report.txt"
                expect_report records_received "$expected_records"
                expect_report bad_records 0
                expect_report eof_seen no
            else
                # Enter while no button exists must not end the upload.
                probe_window enter --key return
                sleep 1
                kill -0 "$program_pid" 2>/dev/null || fail "Enter during the upload ended it"
                probe_window success --wait-control 113 --timeout 400 || fail "no success screen"
                done_at=$(date +%s.%N)
                echo "upload: $(elapsed "$yes_at" "$done_at") s from Yes to the success screen"
                if [ "${VKT5_E2E_FAST:-0}" = 1 ]; then
                    awk -v s="$(elapsed "$yes_at" "$done_at")" -v l=$FAST_UPLOAD_LIMIT_SECONDS \
                        'BEGIN { exit !(s < l) }' || fail "fast mode: the upload took too long"
                fi
                screenshot success
                grep -q 'text=" Programming was successful"' "$out/probe-success.txt" ||
                    fail "success text"
                [ "$(value success default_id)" = "113" ] || fail "OK is not the default"
                click_client $((230 + 47)) $((200 + 12))
                wait_program 20
                status=$?
                [ $status -eq 0 ] || fail "exit status $status after OK"
                for _ in $(seq 1 50); do
                    kill -0 "$sim_pid" 2>/dev/null || break
                    sleep 0.1
                done
                cat "$out/sim-report.txt"
                [ "$(report_value flash_matches_image)" = yes ] ||
                    [ "$(report_value flash_matches_image)" = true ] ||
                    [ "$(report_value flash_matches_image)" = 1 ] ||
                    fail "the unit's flash differs from the image"
            fi
        fi
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
