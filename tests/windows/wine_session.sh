#!/bin/bash
# The Windows tests' session: their own Xvfb and a wineserver kept running for the whole test
# run, started here and stopped here by process id.
#
#   wine_session.sh start STATE_DIR    Xvfb on :$VKT5_WINE_DISPLAY, the prefix made ready, and a
#                                      persistent wineserver
#   wine_session.sh stop STATE_DIR     both stopped again
#
# Wine opens devices in the wineserver, so the wineserver runs in a private mount namespace in
# which every real serial device of the machine is /dev/null: whatever a port map says, no test
# can reach the console on /dev/ttyS0. (The prefix also hides those devices from the port range.)
set -u
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/wine_env.sh"

action="${1:?start or stop}"
state="${2:?state directory}"
mkdir -p "$state"
display_number="${VKT5_WINE_DISPLAY:-61}"

stop_pid() {
    local file="$1" pid
    [ -f "$file" ] || return 0
    pid="$(cat "$file")"
    rm -f "$file"
    [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null || return 0
    kill "$pid" 2>/dev/null
    for _ in $(seq 1 50); do
        kill -0 "$pid" 2>/dev/null || return 0
        sleep 0.1
    done
    kill -9 "$pid" 2>/dev/null
    return 0
}

stop_session() {
    # The server ends every process of this prefix (Wine's own services included) and then
    # itself; a server killed directly would leave those services behind for good.
    if [ -f "$state/wineserver.pid" ] && kill -0 "$(cat "$state/wineserver.pid")" 2>/dev/null; then
        timeout 20 wineserver -k 2>/dev/null
        timeout 10 wineserver -w 2>/dev/null
    fi
    stop_pid "$state/wineserver.pid"
    stop_pid "$state/xvfb.pid"
}

case "$action" in
    stop)
        stop_session
        exit 0
        ;;
    start) ;;
    *)
        echo "usage: $0 start|stop STATE_DIR" >&2
        exit 2
        ;;
esac

# A session left behind by an interrupted run is ours: end it first.
stop_session

if [ -e "/tmp/.X11-unix/X$display_number" ]; then
    echo "display :$display_number is taken; set VKT5_WINE_DISPLAY to a free number" >&2
    exit 1
fi
Xvfb ":$display_number" -screen 0 1280x1024x24 -nolisten tcp >"$state/xvfb.log" 2>&1 &
echo $! >"$state/xvfb.pid"
for _ in $(seq 1 100); do
    [ -e "/tmp/.X11-unix/X$display_number" ] && break
    sleep 0.1
done
if [ ! -e "/tmp/.X11-unix/X$display_number" ]; then
    echo "Xvfb did not start on :$display_number" >&2
    cat "$state/xvfb.log" >&2
    stop_session
    exit 1
fi

vkt5_prepare_prefix || {
    echo "cannot prepare the Wine prefix $WINEPREFIX" >&2
    stop_session
    exit 1
}
# A wineserver started by an earlier wine command of this prefix (test discovery, the prefix
# set-up) runs outside the guard: let it finish, or end it with what it still runs.
if ! timeout 15 wineserver -w 2>/dev/null; then
    timeout 20 wineserver -k 2>/dev/null
    timeout 10 wineserver -w 2>/dev/null
fi

guard='for d in /dev/ttyS* /dev/ttyUSB* /dev/ttyACM*; do [ -e "$d" ] && mount --bind /dev/null "$d"; done; exec wineserver -f -p'
if unshare --mount --propagation private true 2>/dev/null; then
    unshare --mount --propagation private sh -c "$guard" >"$state/wineserver.log" 2>&1 &
else
    echo "no private mount namespace here: the wineserver runs without the device guard" >&2
    wineserver -f -p >"$state/wineserver.log" 2>&1 &
fi
echo $! >"$state/wineserver.pid"
# The first client starts Wine's services; do it now so that the tests do not pay for it.
sleep 0.3
if ! timeout 60 wine cmd /c exit >/dev/null 2>&1; then
    echo "wine does not start in $WINEPREFIX" >&2
    cat "$state/wineserver.log" >&2
    stop_session
    exit 1
fi
echo "Windows test session: DISPLAY=:$display_number WINEPREFIX=$WINEPREFIX"
