# One run of the real program against the unit simulator, on a display, driven like a user would:
# start a (virtual) display, the simulator on a pseudo-terminal, the program with its port map
# pointing there, then click, look and close. Sourced by the demo and by the end-to-end tests.
#
# Every process started here is remembered by PID and stopped by PID at the end.

SESSION_PIDS=""

. "$(dirname "${BASH_SOURCE[0]}")/cpu.sh"

# Test verdicts; $scenario names the run in the message.
fail() { echo "FAIL (${scenario:-run}): $*" >&2; exit 1; }
expect_eq() { [ "$1" = "$2" ] || fail "$3: expected '$2', got '$1'"; }

session_init() {
    SESSION_DIR=$1
    mkdir -p "$SESSION_DIR"
    trap session_cleanup EXIT INT TERM
}

session_cleanup() {
    for pid in $SESSION_PIDS; do
        kill "$pid" 2>/dev/null
    done
    for pid in $SESSION_PIDS; do
        wait "$pid" 2>/dev/null
    done
    SESSION_PIDS=""
}

remember() { SESSION_PIDS="$1 $SESSION_PIDS"; }

# A private virtual display with a window manager (for the title bar and the close key).
start_virtual_display() {
    n=${VKT5_FIRST_DISPLAY:-91}
    while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >"$SESSION_DIR/xvfb.log" 2>&1 &
    remember $!
    export DISPLAY=":$n"
    for _ in $(seq 100); do
        xdpyinfo >/dev/null 2>&1 && break
        sleep 0.05
    done
    openbox >"$SESSION_DIR/openbox.log" 2>&1 &
    remember $!
    sleep 0.3
}

# start_simulator SIM IMAGE [options...]: the unit on a pty linked at $SESSION_DIR/unit.
start_simulator() {
    sim=$1 image=$2
    shift 2
    rm -f "$SESSION_DIR/unit" "$SESSION_DIR/report.txt"
    "$sim" --link "$SESSION_DIR/unit" --verbose --report "$SESSION_DIR/report.txt" \
        --flash-hex "$SESSION_DIR/flash.hex" --compare-image "$image" "$@" \
        >"$SESSION_DIR/sim.out" 2>"$SESSION_DIR/sim.log" &
    SIM_PID=$!
    remember $SIM_PID
    for _ in $(seq 100); do
        [ -e "$SESSION_DIR/unit" ] && return 0
        sleep 0.02
    done
    echo "the simulator did not start" >&2
    return 1
}

# Runs a command where every real serial device is /dev/null, so that a port map that is not
# honoured can never reach the console or a real adapter.
guarded() {
    if [ "$(id -u)" = 0 ] && command -v unshare >/dev/null; then
        unshare --mount --propagation private sh -c \
            'for d in /dev/ttyS* /dev/ttyUSB* /dev/ttyACM*; do [ -e "$d" ] && mount --bind /dev/null "$d"; done; exec "$@"' \
            guard "$@"
    else
        "$@"
    fi
}

# start_program BINARY PORTS [TAG]: the program, with VKT5_PORTS as given; its exit status goes to
# a file. A TAG keeps a second copy's status and log apart from the first's. Its lock files go to
# the session's own folder (VKT5_LOCK_DIRS), never to /run/lock. With RUN_AS set, the program
# runs as that user.
# With VKT5_E2E_FAST=1 in the environment the program runs in fast mode (VKT5_FAST=1): every
# scenario can be run so.
start_program() {
    tag=${3:+-$3}
    rm -f "$SESSION_DIR/status$tag"
    mkdir -p "$SESSION_DIR/locks"
    chmod 1777 "$SESSION_DIR/locks"
    (
        [ "${VKT5_E2E_FAST:-0}" = 1 ] && export VKT5_FAST=1
        VKT5_PORTS=$2 VKT5_LOCK_DIRS=$SESSION_DIR/locks \
            guarded ${RUN_AS:+runuser -u "$RUN_AS" --} "$1" >"$SESSION_DIR/program$tag.log" 2>&1
        echo $? >"$SESSION_DIR/status$tag"
    ) &
    PROGRAM_PID=$!
    PROGRAM_NAME=$(basename "$1")
    remember $PROGRAM_PID
    PROGRAM_STARTED=$(date +%s.%N)
}

# wait_for_log PATTERN SECONDS: waits until the simulator's trace shows the pattern.
wait_for_log() {
    deadline=$(($(date +%s) + $2))
    while ! grep -q -- "$1" "$SESSION_DIR/sim.log" 2>/dev/null; do
        [ "$(date +%s)" -ge "$deadline" ] && return 1
        sleep 0.05
    done
}

# find_window [PID]: the program's visible window (of that process, when several copies run).
find_window() {
    WID=""
    if [ $# -gt 0 ]; then set -- --pid "$1"; else set -- --name "Corvane"; fi
    for _ in $(seq 200); do
        WID=$(xdotool search --onlyvisible "$@" 2>/dev/null | head -n 1)
        [ -n "$WID" ] && return 0
        sleep 0.05
    done
    return 1
}

# click X Y: a real click at client coordinates of the window.
click() { xdotool mousemove --window "$WID" "$1" "$2" click 1; }

screenshot() { import -window "$WID" "$1" 2>/dev/null; }

# close_window [TAG]: Alt+F4 to the program's window, as a person closes it. On a loaded machine
# the key can reach the window before the window manager has made it active, and is then lost;
# so when the program has not ended within 3 s the key is pressed again (at most three times).
close_window() {
    for _ in 1 2 3; do
        xdotool windowactivate --sync "$WID" key alt+F4 2>/dev/null
        status_file="$SESSION_DIR/status${1:+-$1}"
        deadline=$(($(date +%s) + 3))
        while [ ! -s "$status_file" ] && [ "$(date +%s)" -lt "$deadline" ]; do
            sleep 0.05
        done
        [ -s "$status_file" ] && return 0
    done
    return 1
}

# wait_program SECONDS [TAG]: the program's exit status, or 124 when it is still running.
wait_program() {
    status_file="$SESSION_DIR/status${2:+-$2}"
    deadline=$(($(date +%s) + $1))
    while [ ! -s "$status_file" ]; do
        [ "$(date +%s)" -ge "$deadline" ] && return 124
        sleep 0.05
    done
    return "$(cat "$status_file")"
}

# program_process [SUBSHELL_PID]: the PID of the program itself. start_program runs it in a
# subshell, through unshare and "sh -c exec", so it is looked for among that subshell's
# descendants by the name it runs under.
program_process() {
    name=$(printf '%.15s' "$PROGRAM_NAME")
    for _ in $(seq 100); do
        level=${1:-$PROGRAM_PID}
        while [ -n "$level" ]; do
            below=""
            for pid in $level; do
                if [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = "$name" ]; then
                    echo "$pid"
                    return 0
                fi
                below="$below $(pgrep -P "$pid")"
            done
            level=$(echo $below)
        done
        sleep 0.05
    done
    return 1
}

# rss_kb PID: the resident set of the process, in KiB.
rss_kb() { awk '/^VmRSS:/ {print $2}' "/proc/$1/status"; }

# stop_simulator: lets it write its report, and waits for it.
stop_simulator() {
    kill -TERM "$SIM_PID" 2>/dev/null
    wait "$SIM_PID" 2>/dev/null
    true
}

report_value() { sed -n "s/^$1: //p" "$SESSION_DIR/report.txt" 2>/dev/null | head -n 1; }

# decline: answers No on the question; the program must end with status 0 and the unit must have
# received nothing but the answer to its identification.
decline() {
    click 327 212
    wait_program 10
    expect_eq "$?" 0 "exit status after No"
    sleep 0.3
    stop_simulator
    expect_eq "$(report_value bytes_received)" 1 "bytes the unit received"
}

# What the window shows, told apart by where anything but the window's background stands in the
# 500 x 240 client area (the rectangles of ui/phase_screens.cpp): the advice of the failure screen
# and of the silence warning (175, 100), the upload bar (50, 185), the button left of the middle
# (Yes or Retry at 170, 200), the scan bar (200, 170).

# marks FILE X Y W H: the share of the rectangle's pixels that differ from the background (taken
# from the bottom right corner, which no screen uses).
marks() {
    convert "$1" -crop "$4x$5+$2+$3" +repage -fuzz 3% -fill black \
        -opaque "$(convert "$1" -format '%[pixel:p{495,235}]' info:)" -fill white +opaque black \
        -format '%[fx:mean]\n' info:
}

# ink_right FILE X Y W H: the window x of the rightmost pixel in the rectangle that is not
# background (X when there is none): how far a line of text reaches.
ink_right() {
    convert "$1" -crop "$4x$5+$2+$3" +repage -fuzz 3% -fill white \
        -opaque "$(convert "$1" -format '%[pixel:p{495,235}]' info:)" -fill black +opaque white \
        -bordercolor white -border 1 -trim info: 2>/dev/null |
        awk -v x="$2" '{split($3, size, "x"); split($4, at, "+"); print x + at[2] - 1 + size[1] - 1}'
}

any() { awk -v m="$1" 'BEGIN {exit !(m > 0)}'; }

# screen_kind FILE: search, question, upload, warning (the upload with the no-answer advice),
# failure, success (or none of them).
screen_kind() {
    advice=$(marks "$1" 175 100 320 34) bar=$(marks "$1" 55 188 105 10)
    if any "$advice"; then
        any "$bar" && echo warning || echo failure
    elif any "$bar"; then
        echo upload
    elif any "$(marks "$1" 172 203 50 18)"; then
        echo question
    elif any "$(marks "$1" 200 170 150 4)"; then
        echo search
    elif any "$(marks "$1" 235 203 50 18)"; then
        echo success
    else
        echo none
    fi
}

# wait_for_screen KIND SECONDS: looks at the window until it shows that screen (its picture is
# then in $SESSION_DIR/screen.png) and prints the seconds that took.
wait_for_screen() {
    from=$(date +%s.%N)
    deadline=$(($(date +%s) + $2))
    while :; do
        if screenshot "$SESSION_DIR/screen.png" && [ "$(screen_kind "$SESSION_DIR/screen.png")" = "$1" ]; then
            awk -v a="$from" -v b="$(date +%s.%N)" 'BEGIN {printf "%.2f\n", b - a}'
            return 0
        fi
        [ "$(date +%s)" -ge "$deadline" ] && return 1
        sleep 0.05
    done
}

# expect_screen KIND SECONDS WHAT: as wait_for_screen, failing the test when it does not come.
expect_screen() {
    SCREEN_SECONDS=$(wait_for_screen "$1" "$2") ||
        fail "$3: no $1 screen within $2 s (showing: $(screen_kind "$SESSION_DIR/screen.png"))"
}

# Where the buttons are clicked: Yes and Retry (on the failure screen and, 8 pixels lower, under
# the upload bar) share this point; OK and the search screen's Exit share the other.
click_yes() { click 217 212; }
click_retry() { click 217 216; }
click_ok() { click 277 212; }

# complete_upgrade [SECONDS]: from the search screen on, the user waits for the question, clicks
# Yes and finishes the upgrade (finish_upgrade).
complete_upgrade() {
    expect_screen question 30 "the unit was not found"
    click_yes
    wait_for_log "programming requested" 20 || fail "programming never requested"
    finish_upgrade "${1:-150}"
}

# expect_whole_image: the simulator's report (read after stop_simulator) says the unit took every
# record once, whole and in order, and its flash equals the image.
expect_whole_image() {
    expect_eq "$(report_value records_received)" 2263 "records received"
    expect_eq "$(report_value bad_records)" 0 "bad records"
    expect_eq "$(report_value flash_matches_image)" yes "flash equals the image"
    expect_eq "$(report_value records_in_order)" yes "records in order"
}

# finish_upgrade [SECONDS]: during the upload, the user waits (at most SECONDS) for the success and
# clicks OK; the program ends with status 0 and the unit holds the image.
finish_upgrade() {
    expect_screen success "${1:-150}" "the upload did not finish"
    click_ok
    wait_program 10
    expect_eq "$?" 0 "exit status after OK"
    stop_simulator
    expect_whole_image
}
