# One run of the real program against the unit simulator, on a display, driven like a user would:
# start a (virtual) display, the simulator on a pseudo-terminal, the program with its port map
# pointing there, then click, look and close. Sourced by the demo and by the end-to-end tests.
#
# Every process started here is remembered by PID and stopped by PID at the end.

SESSION_PIDS=""

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
# a file. A TAG keeps a second copy's status and log apart from the first's. With VKT5_E2E_FAST=1
# in the environment the program runs in fast mode (VKT5_FAST=1): every scenario can be run so.
start_program() {
    tag=${3:+-$3}
    rm -f "$SESSION_DIR/status$tag"
    (
        [ "${VKT5_E2E_FAST:-0}" = 1 ] && export VKT5_FAST=1
        VKT5_PORTS=$2 guarded "$1" >"$SESSION_DIR/program$tag.log" 2>&1
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

close_window() { xdotool windowactivate --sync "$WID" key alt+F4 2>/dev/null; }

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

# cpu_ticks PID: user plus system time used so far, in clock ticks. The name field of the stat
# line may hold blanks, so the fields are counted from its closing parenthesis.
cpu_ticks() { sed 's/.*) //' "/proc/$1/stat" | awk '{print $12 + $13}'; }

# cpu_percent PID SECONDS: the share of one core the process used over the next SECONDS.
cpu_percent() {
    ticks0=$(cpu_ticks "$1") wall0=$(date +%s.%N)
    sleep "$2"
    ticks1=$(cpu_ticks "$1") wall1=$(date +%s.%N)
    awk -v t="$((ticks1 - ticks0))" -v hz="$(getconf CLK_TCK)" -v w0="$wall0" -v w1="$wall1" \
        'BEGIN {printf "%.1f\n", 100 * t / hz / (w1 - w0)}'
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
