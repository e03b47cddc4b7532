#!/bin/bash
# vkt5-upgrade-cli.exe under Wine against the unit simulator, its pty mapped as COM3 (and COM4).
#
#   cli_e2e.sh SCENARIO WINE_RUN PROGRAM IMAGE OUT_DIR
#
# Scenarios: yes (the whole image with --fast, which runs on the beat here), info, list (COM3
# with the unit, COM4 a silent unit, COM60 absent: Wine opens the prefix's hidden COM1 to COM49
# as devices without a line, so the absent port lies beyond them), failure (the unit hangs up mid-upload: exit
# status 3), usage (64, and a device path refused). The simulator is $VKT5_SIM, else the configured
# one ($VKT5_SIM_DEFAULT); without one the test is skipped (status 77).
set -u
here="$(cd "$(dirname "$0")" && pwd)"
scenario="${1:?scenario}" wine_run="${2:?wine-run wrapper}" program="${3:?program}"
image="${4:?image}" out="${5:?output directory}"
source "$here/wine_env.sh"

sim="${VKT5_SIM:-${VKT5_SIM_DEFAULT:-}}"
if [ -z "$sim" ] || [ ! -x "$sim" ]; then
    echo "SKIP: no unit simulator (set VKT5_SIM to the Linux build's vkt5-unit-sim)"
    exit 77
fi
rm -rf "$out"
mkdir -p "$out"
pids=""
cleanup() {
    vkt5_unmap_port 3
    vkt5_unmap_port 4
    for pid in $pids; do kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; done
}
trap cleanup EXIT
fail() { echo "FAIL ($scenario): $*"; exit 1; }
expect_eq() { [ "$1" = "$2" ] || fail "$3: expected '$2', got '$1'"; }

# unit COM NAME [options]: a simulated unit on COM<n>.
unit() {
    local com=$1 name=$2
    shift 2
    "$sim" --report "$out/$name.report" --compare-image "$image" "$@" \
        >"$out/$name.stdout" 2>"$out/$name.stderr" &
    pids="$! $pids"
    eval "PID_$name=$!"
    for _ in $(seq 1 100); do
        [ -s "$out/$name.stdout" ] && break
        sleep 0.05
    done
    vkt5_map_port "$com" "$(head -n1 "$out/$name.stdout")"
}
stop_unit() { local pid; pid=$(eval echo "\$PID_$1"); kill "$pid"; wait "$pid" 2>/dev/null; }
report() { sed -n "s/^$2: //p" "$out/$1.report"; }

# cli ARGS...: the program's output (CR LF made LF) in $out/cli.out, its status in $status.
cli() {
    "$wine_run" "$program" "$@" </dev/null >"$out/cli.raw" 2>"$out/cli.err"
    status=$?
    tr -d '\r' <"$out/cli.raw" >"$out/cli.out"
}
contains() { grep -qF -- "$1" "$out/cli.out" || fail "output lacks \"$1\": $(cat "$out/cli.out")"; }

case "$scenario" in
    yes)
        unit 3 unit
        cli --port COM3 --yes --fast --log "$(winepath -w "$out/log.csv" 2>/dev/null)"
        stop_unit unit
        expect_eq "$status" 0 "exit status"
        expect_eq "$(report unit flash_matches_image)" yes "flash equals the image"
        contains "COM3  V1.001 -> V1.002  upgraded in"
        contains "COM3: 50% (1132/2263 lines"
        grep -q ",COM3,V1.001,V1.002,.*,upgraded" "$out/log.csv" || fail "log: $(cat "$out/log.csv")"
        ;;
    info)
        unit 3 unit
        cli --port COM3 --info
        stop_unit unit
        expect_eq "$status" 0 "exit status"
        contains "VKT-5 on COM3: installed V1.001, this program carries V1.002"
        expect_eq "$(report unit bytes_received)" 1 "bytes the unit received"
        ;;
    list)
        unit 3 unit
        unit 4 quiet --silent
        cli --list --port COM3,COM4,COM60
        stop_unit unit
        expect_eq "$status" 0 "exit status"
        grep -q "^COM3  *VKT-5 boot loader$" "$out/cli.out" || fail "COM3: $(cat "$out/cli.out")"
        grep -q "^COM4  *opened, no unit$" "$out/cli.out" || fail "COM4: $(cat "$out/cli.out")"
        grep -q "^COM60  *absent$" "$out/cli.out" || fail "COM60: $(cat "$out/cli.out")"
        expect_eq "$(report unit bytes_received)" 0 "bytes the unit received"
        ;;
    failure)
        unit 3 unit --hangup-after 30
        cli --port COM3 --yes --fast
        stop_unit unit
        expect_eq "$status" 3 "exit status"
        contains "failed after 30 of 2263 lines: the unit was disconnected"
        ;;
    usage)
        cli --port /dev/ttyUSB0
        expect_eq "$status" 64 "a device path"
        grep -q "not a COM port name" "$out/cli.err" || fail "stderr: $(cat "$out/cli.err")"
        cli --bogus
        expect_eq "$status" 64 "unknown option"
        cli --version
        expect_eq "$status" 0 "--version"
        contains "carried firmware image V1.002"
        cli --help
        contains "(on Windows still on the beat)"
        ;;
    *) fail "no such scenario" ;;
esac
echo "PASS ($scenario)"
