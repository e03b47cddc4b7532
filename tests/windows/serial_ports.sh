#!/bin/bash
# Runs the Win32 serial back-end's tests on two connected pseudo-terminals mapped as COM ports.
#
#   serial_ports.sh WINE_RUN TEST_EXE [gtest options]
#
# socat joins the two ptys, raw and without echo; COM7 (the port under test) and COM8 (the peer
# that plays the unit) are linked to them in the prefix's dosdevices. COM9 is a line that a test
# unplugs: a second socat holds its far side and is stopped when the test creates the file named
# in VKT5_TEST_HANGUP_REQUEST. The absent port is COM60:
# the prefix keeps COM1 to COM49 as hidden ports, which Wine opens as devices without a line,
# and gives the machine's own serial device COM50.
set -u
here="$(cd "$(dirname "$0")" && pwd)"
wine_run="${1:?wine-run wrapper}"
test_exe="${2:?test executable}"
shift 2
source "$here/wine_env.sh"

port=7
peer=8
line=9
absent=60
work="$(mktemp -d)"
socat_pid=""
line_pid=""
watcher_pid=""
cleanup() {
    vkt5_unmap_port "$port"
    vkt5_unmap_port "$peer"
    vkt5_unmap_port "$line"
    local pid
    for pid in "$watcher_pid" "$line_pid" "$socat_pid"; do
        if [ -n "$pid" ]; then
            kill "$pid" 2>/dev/null
            wait "$pid" 2>/dev/null
        fi
    done
    rm -rf "$work"
}
trap cleanup EXIT

socat pty,raw,echo=0,link="$work/a" pty,raw,echo=0,link="$work/b" 2>"$work/socat.log" &
socat_pid=$!
for _ in $(seq 1 100); do
    [ -L "$work/a" ] && [ -L "$work/b" ] && break
    sleep 0.05
done
if ! [ -L "$work/a" ] || ! [ -L "$work/b" ]; then
    echo "socat made no pty pair" >&2
    cat "$work/socat.log" >&2
    exit 1
fi
vkt5_map_port "$port" "$(readlink -f "$work/a")"
vkt5_map_port "$peer" "$(readlink -f "$work/b")"

socat pty,raw,echo=0,link="$work/line" pty,raw,echo=0,link="$work/far" 2>"$work/socat-line.log" &
line_pid=$!
for _ in $(seq 1 100); do
    [ -L "$work/line" ] && break
    sleep 0.05
done
vkt5_map_port "$line" "$(readlink -f "$work/line")"
(
    until [ -e "$work/hang-up" ]; do sleep 0.02; done
    kill "$line_pid"
) &
watcher_pid=$!

VKT5_TEST_PORT="COM$port" VKT5_TEST_PEER="COM$peer" VKT5_TEST_ABSENT="COM$absent" \
    VKT5_TEST_HANGUP_PORT="COM$line" VKT5_TEST_HANGUP_REQUEST="Z:${work//\//\\}\\hang-up" \
    "$wine_run" "$test_exe" "$@"
