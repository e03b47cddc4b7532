#!/usr/bin/env bash
# vkt5-upgrade-cli against vkt5-unit-sim on pseudo-terminals, under the serial-device guard.
#   cli_e2e.sh SCENARIO CLI SIMULATOR IMAGE OUTDIR [WINDOW]
# Scenarios: yes, decline, info, list, loop, four, exits, window.
# Uploads use --fast: the sequencing is the same, the unit answers at once, and a run takes about
# a second instead of 68.
set -u
scenario=$1 cli=$2 sim=$3 image=$4 out=$5 window=${6:-}
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../scripts/lib/session.sh"

rm -rf "$out"
session_init "$out"
chmod 755 "$out"  # the unprivileged run of --list goes through it

# sim NAME [options]: a simulated unit linked at $out/NAME, its report and wire log beside it.
sim() {
    name=$1
    shift
    "$sim" --link "$out/$name" --report "$out/$name.report" --compare-image "$image" \
        --wire-log "$out/$name.wire" "$@" >"$out/$name.out" 2>"$out/$name.log" &
    remember $!
    eval "SIM_$name=$!"
    for _ in $(seq 100); do
        [ -e "$out/$name" ] && return 0
        sleep 0.02
    done
    fail "simulator $name did not start"
}

# stop_sim NAME: ends it and lets it write its report.
stop_sim() {
    pid=$(eval echo "\$SIM_$1")
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
}

report() { sed -n "s/^$2: //p" "$out/$1.report"; }

# cli ARGS...: the program under the guard, its output in $out/cli.out, its status in $status.
cli() {
    guarded "$cli" "$@" >"$out/cli.out" 2>"$out/cli.err" </dev/null
    status=$?
}

contains() { grep -qF -- "$2" "$1" || fail "$1 lacks \"$2\": $(cat "$1")"; }

case "$scenario" in
    yes)
        sim unit
        cli --port "$out/unit" --yes --fast --trace "$out/trace.txt" --log "$out/log.csv"
        stop_sim unit
        expect_eq "$status" 0 "exit status"
        expect_eq "$(report unit records_received)" 2263 "records received"
        expect_eq "$(report unit flash_matches_image)" yes "flash equals the image"
        contains "$out/cli.out" "V1.001 -> V1.002  upgraded in"
        contains "$out/cli.out" "$out/unit: 50% (1132/2263 lines"
        expect_eq "$(sed -n 1p "$out/log.csv")" "time,port,installed,new,seconds,result" "log header"
        sed -n 2p "$out/log.csv" | grep -Eq "^[0-9T:-]+Z,$out/unit,V1.001,V1.002,[0-9.]+,upgraded$" ||
            fail "log row: $(sed -n 2p "$out/log.csv")"
        python3 "$here/wire_compare.py" "$out/trace.txt" "$out/unit.wire" ||
            fail "the trace differs from what the unit saw"
        ;;
    decline)
        # A real terminal to answer on: script gives the program one, and "n" is typed into it.
        sim unit
        (sleep 3; echo n) | guarded script -qec "$cli --port $out/unit" /dev/null >"$out/cli.out" 2>&1
        status=$?
        stop_sim unit
        expect_eq "$status" 1 "exit status after n"
        contains "$out/cli.out" "Upgrade VKT-5 on $out/unit from V1.001 to V1.002? [y/N]"
        expect_eq "$(report unit erased)" no "erased"
        expect_eq "$(report unit bytes_received)" 1 "bytes the unit received (the Y alone)"
        ;;
    info)
        sim unit --version-line "VKT5 V1.000"
        cli --port "$out/unit" --info
        stop_sim unit
        expect_eq "$status" 0 "exit status"
        contains "$out/cli.out" "installed V1.000, this program carries V1.002"
        expect_eq "$(report unit bytes_received)" 1 "bytes the unit received"
        ;;
    list)
        sim unit
        sim held --silent
        sim locked --silent
        # Held by another program: an exclusive lock on the device, as our own open takes. This
        # shell holds it, so no process outlives the test.
        exec 7<>"$(readlink "$out/held")"
        flock -n 7 || fail "could not lock the held port"
        # No permission: root's pty, readable by root alone, and the list run as nobody; the
        # others are open to everyone.
        chmod 600 "$(readlink "$out/locked")"
        chmod 666 "$(readlink "$out/held")" "$(readlink "$out/unit")"
        sleep 0.2
        ports="$out/absent,/dev/null,$out/held,$out/locked,$out/unit"
        guarded runuser -u nobody -- "$cli" --list --port "$ports" >"$out/cli.out" 2>"$out/cli.err"
        status=$?
        expect_eq "$status" 0 "exit status"
        contains "$out/cli.out" "$out/absent"
        grep -q "^$out/absent  *absent$" "$out/cli.out" || fail "absent: $(cat "$out/cli.out")"
        grep -q "^/dev/null  *not a serial line$" "$out/cli.out" || fail "/dev/null: $(cat "$out/cli.out")"
        grep -q "^$out/held .*in use by another program$" "$out/cli.out" || fail "held: $(cat "$out/cli.out")"
        grep -q "^$out/locked .*no permission (join the dialout group" "$out/cli.out" ||
            fail "locked: $(cat "$out/cli.out")"
        grep -q "^$out/unit .*VKT-5 boot loader$" "$out/cli.out" || fail "unit: $(cat "$out/cli.out")"
        # --json gives the same, one object per port.
        cli --list --json --port "$out/absent,$out/unit"
        expect_eq "$(grep -c '"event":"port"' "$out/cli.out")" 2 "port events"
        contains "$out/cli.out" '"state":"absent"'
        contains "$out/cli.out" '"state":"the unit","text":"VKT-5 boot loader"'
        stop_sim unit
        expect_eq "$(report unit bytes_received)" 0 "bytes the unit received"
        ;;
    loop)
        # Three units in a row on one port: the simulator boots again 300 ms after each upload.
        sim unit --power-up-after 300 --units 3
        cli --port "$out/unit" --yes --fast --loop --timeout 4 --log "$out/log.csv"
        stop_sim unit
        cp "$out/cli.out" "$out/bench-session.txt"
        expect_eq "$status" 0 "exit status"
        expect_eq "$(report unit units)" 3 "units programmed"
        expect_eq "$(grep -c 'upgraded in' "$out/cli.out")" 3 "summary lines"
        grep -q "^#3  .*  $out/unit  V1.001 -> V1.002  upgraded in" "$out/cli.out" ||
            fail "third line: $(cat "$out/cli.out")"
        expect_eq "$(wc -l <"$out/log.csv")" 4 "log lines"
        ;;
    four)
        for n in 1 2 3 4; do
            if [ $n = 3 ]; then sim unit$n --hangup-after 50; else sim unit$n; fi
        done
        cli --port "$out/unit1,$out/unit2" --port "$out/unit3" --port "$out/unit4" --yes --fast \
            --json --trace "$out/trace.txt"
        json_status=$status
        for n in 1 2 3 4; do stop_sim unit$n; done
        expect_eq "$json_status" 3 "exit status"
        for n in 1 2 4; do
            expect_eq "$(report unit$n flash_matches_image)" yes "unit$n flash"
            python3 "$here/wire_compare.py" "$out/trace.txt" "$out/unit$n.wire" "$out/unit$n" ||
                fail "trace of unit$n"
        done
        expect_eq "$(report unit3 records_received)" 50 "unit3 records"
        expect_eq "$(grep -c '"result":"upgraded"' "$out/cli.out")" 3 "upgraded units"
        contains "$out/cli.out" '"port":"'"$out"'/unit3","installed":"V1.001","new":"V1.002","result":"failed"'
        contains "$out/cli.out" '{"event":"end","exit_status":3}'
        # The same four as a person sees them.
        for n in 1 2 3 4; do
            if [ $n = 3 ]; then sim unit$n --hangup-after 50; else sim unit$n; fi
        done
        cli --port "$out/unit1,$out/unit2,$out/unit3,$out/unit4" --yes --fast
        for n in 1 2 3 4; do stop_sim unit$n; done
        cp "$out/cli.out" "$out/four-at-once.txt"
        expect_eq "$status" 3 "exit status"
        contains "$out/cli.out" "failed after 50/2263 lines: the unit was disconnected"
        contains "$out/cli.out" "exit status 3"
        ;;
    exits)
        cli --bogus
        expect_eq "$status" 64 "unknown option"
        contains "$out/cli.err" "unknown option --bogus"
        cli --port "" ; expect_eq "$status" 64 "empty port"
        cli --help; expect_eq "$status" 0 "--help"
        contains "$out/cli.out" "--trace FILE"
        cli --version; expect_eq "$status" 0 "--version"
        contains "$out/cli.out" "carried firmware image V1.002"
        sim quiet --silent
        cli --port "$out/quiet" --yes --timeout 1.5
        expect_eq "$status" 2 "no unit in time"
        cli --port "$out/quiet"
        expect_eq "$status" 1 "no terminal to ask"
        contains "$out/cli.err" "no terminal to ask"
        sim early --done-after 10
        cli --port "$out/early" --yes --fast
        expect_eq "$status" 3 "the unit ended early"
        contains "$out/cli.out" "the unit ended the programming early"
        ;;
    window)
        # The window without a display names the command line; with one it ignores Qt's options.
        env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$window" -platform offscreen \
            >"$out/window.out" 2>&1
        expect_eq "$?" 1 "window without a display"
        expect_eq "$(wc -l <"$out/window.out")" 1 "lines said"
        contains "$out/window.out" "vkt5-upgrade-cli"
        # Offscreen, with "-platform xcb" that Qt would obey (and fail on, with no X server) if it
        # saw it; VKT5_TRACE has the window write down the unit's identification as it scans.
        sim unit
        VKT5_PORTS="$out/unit" VKT5_TRACE="$out/window-trace.txt" QT_QPA_PLATFORM=offscreen \
            guarded "$window" -platform xcb >"$out/window.out" 2>&1 &
        window_pid=$!
        remember $window_pid
        for _ in $(seq 100); do
            grep -qF ' rx VKT5\r\n' "$out/window-trace.txt" 2>/dev/null && break
            sleep 0.1
        done
        kill -0 "$window_pid" 2>/dev/null || fail "the window ended: $(cat "$out/window.out")"
        grep -q "^[0-9]*\.[0-9]\{6\} COM1 open $out/unit$" "$out/window-trace.txt" ||
            fail "window trace: $(head -3 "$out/window-trace.txt")"
        grep -qF ' COM1 rx VKT5\r\n' "$out/window-trace.txt" || fail "no identification traced"
        ;;
    *)
        fail "no such scenario"
        ;;
esac
echo "PASS ($scenario)"
