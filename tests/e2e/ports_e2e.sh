#!/usr/bin/env bash
# The search screen's line on why the unit is not found, and the manners of the scan towards
# other programs' ports, with the real program on a private virtual display.
#   ports_e2e.sh SCENARIO PROGRAM SIMULATOR IMAGE OUTDIR
# Scenarios:
#   no-permission  the unit's pty is root's alone, the program runs as "nobody"
#   in-use         another process has locked the unit's pty; when it ends, its lock is stale and
#                  the unit is found
#   settings       a pty that a terminal program keeps open (no lock) is scanned for a few
#                  rounds: its line settings are the same afterwards, and between rounds
set -u
scenario=$1 program=$2 sim=$3 image=$4 out=$5
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../scripts/lib/session.sh"

# The note's place on the search screen (client pixels) and how much of it is ink.
NOTE_GEOMETRY=320x42+175+96
note_ink() {
    convert "$1" -crop "$NOTE_GEOMETRY" -colorspace Gray -threshold 50% -negate \
        -format '%[fx:mean]' info:
}
# expect_note SHOT: text stands where the note goes.
expect_note() {
    ink=$(note_ink "$1")
    awk -v i="$ink" 'BEGIN {exit !(i > 0.02)}' || fail "no note on the search screen ($ink)"
}

rm -rf "$out"
session_init "$out"
start_virtual_display

case "$scenario" in
    no-permission | in-use)
        start_simulator "$sim" "$image" || fail "simulator"
        device=$(readlink -f "$out/unit")
        ports=",,$device"
        ;;
    settings) ;;
    *) fail "unknown scenario" ;;
esac

case "$scenario" in
    no-permission)
        chown root:root "$device"
        chmod 600 "$device"
        # The program must be reachable by that user.
        runuser -u nobody -- test -x "$program" || fail "nobody cannot run $program"
        RUN_AS=nobody start_program "$program" "$ports"
        PROGRAM_PROCESS=$(program_process) || fail "no program process"
        find_window "$PROGRAM_PROCESS" || fail "no window"
        sleep 2.5  # a round is 49 ticks here (under a second): two rounds and more
        screenshot "$out/search-no-permission.png"
        expect_note "$out/search-no-permission.png"
        [ -e "$out/locks/LCK..${device#/dev/}" ] && fail "a lock file for a device never opened"
        expect_eq "$(grep -c 'identification answered' "$out/sim.log")" 0 "identifications answered"
        click 277 212
        wait_program 10
        expect_eq "$?" 0 "exit status after Exit"
        ;;

    in-use)
        # Another program holds the unit's line, by a lock file with its PID.
        sleep 600 &
        holder=$!
        remember $holder
        mkdir -p "$out/locks"
        lock="$out/locks/LCK..$(echo "${device#/dev/}" | tr / _)"
        printf '%10d\n' "$holder" >"$lock"
        start_program "$program" "$ports"
        PROGRAM_PROCESS=$(program_process) || fail "no program process"
        find_window "$PROGRAM_PROCESS" || fail "no window"
        sleep 2.5
        screenshot "$out/search-in-use.png"
        expect_note "$out/search-in-use.png"
        expect_eq "$(grep -c 'identification answered' "$out/sim.log")" 0 "identifications answered"
        expect_eq "$(cat "$lock")" "$(printf '%10d' "$holder")" "the other program's lock file"
        # The other program ends without removing its lock: the lock is stale, the unit is found.
        kill "$holder"
        wait "$holder" 2>/dev/null
        wait_for_log "identification answered" 10 || fail "unit not found after the lock went stale"
        sleep 0.5
        expect_eq "$(cat "$lock")" "$(printf '%10d' "$PROGRAM_PROCESS")" "the lock file now ours"
        decline
        [ -e "$lock" ] && fail "the lock file stayed after the program ended"
        ;;

    settings)
        # A terminal program holding a pty open, with settings of its own.
        python3 -c '
import os, pty, sys, time
master, slave = pty.openpty()
os.symlink(os.ttyname(slave), sys.argv[1])
while True:
    time.sleep(60)
' "$out/other" &
        remember $!
        for _ in $(seq 100); do [ -e "$out/other" ] && break; sleep 0.02; done
        other=$(readlink -f "$out/other")
        stty -F "$other" 9600 cstopb -echo ixon -icrnl || fail "stty"
        stty -a -F "$other" >"$out/stty-before.txt"
        found=$(cat "$out/stty-before.txt")
        start_program "$program" "$other"
        PROGRAM_PROCESS=$(program_process) || fail "no program process"
        find_window "$PROGRAM_PROCESS" || fail "no window"
        # A round is 85 ticks (1.3 s): 37 with the pty held, 48 with it let go. Samples every
        # 50 ms over 4 s see both; now and then one falls in the 2 ms between the open (raw at
        # the old speed) and the configuration, and counts as neither.
        held=0 between=0 other_states=0
        for _ in $(seq 80); do
            now=$(stty -a -F "$other")  # one look: the port may change hands between two
            if [ "$now" = "$found" ]; then
                between=$((between + 1))
            elif [[ $now == "speed 57600 baud;"* ]]; then
                held=$((held + 1))
            else
                other_states=$((other_states + 1))
            fi
            sleep 0.05
        done
        echo "samples: held $held, as found $between, other $other_states"
        screenshot "$out/search-not-a-unit.png"
        expect_note "$out/search-not-a-unit.png"
        [ "$held" -gt 0 ] || fail "the scan never configured the pty"
        [ "$between" -gt 0 ] || fail "the pty never had its settings back between rounds"
        click 277 212
        wait_program 10
        expect_eq "$?" 0 "exit status after Exit"
        stty -a -F "$other" >"$out/stty-after.txt"
        diff -u "$out/stty-before.txt" "$out/stty-after.txt" || fail "line settings changed"
        ;;
esac
exit 0
