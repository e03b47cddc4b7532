#!/usr/bin/env bash
# The real program against the simulated unit on a private virtual display, clicked like a user.
#   upgrade_e2e.sh SCENARIO PROGRAM SIMULATOR IMAGE OUTDIR
# Scenarios: full, decline, exit-scanning, close-uploading, done-early, and a unit on a real line
# whose timing once cost lines: latency (identification every 10 ms, answers held 20 ms by the
# adapter), ident5-echo (every 5 ms, each record echoed in its prompt's write), ident2-stray
# (every 2 ms, stray bytes before each prompt). Each of these ends with the image in the flash.
# VKT5_E2E_FAST=1 runs any of them in fast mode.
set -u
scenario=$1 program=$2 sim=$3 image=$4 out=$5
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../scripts/lib/session.sh"


rm -rf "$out"
session_init "$out"
start_virtual_display

sim_options=()
case "$scenario" in
    # Powered up again half a second after its fault (once), as the failure screen asks.
    done-early) sim_options=(--done-after 40 --power-up-after 500 --units 2) ;;
    latency) sim_options=(--ident-interval 10 --reply-latency 20) ;;
    ident5-echo) sim_options=(--ident-interval 5 --echo) ;;
    ident2-stray) sim_options=(--ident-interval 2 --stray-before-prompt) ;;
esac
# In fast mode (VKT5_E2E_FAST=1) the unit takes 5 ms per record, so the upload screen stays long
# enough to be seen, and the whole image still goes out in a fraction of the tick bound (67.89 s).
FAST_UPLOAD_LIMIT_SECONDS=30
if [ "${VKT5_E2E_FAST:-0}" = 1 ]; then
    sim_options+=(--record-delay 5)
fi
start_simulator "$sim" "$image" "${sim_options[@]}" || fail "simulator"
start_program "$program" ",,$out/unit"
find_window || fail "no window"
screenshot "$out/search.png"

# Geometry as the user gets it: the client area is 500 x 240.
geometry=$(xwininfo -id "$WID" | awk '/Width:/ {w=$2} /Height:/ {h=$2} END {print w "x" h}')
expect_eq "$geometry" "500x240" "client area"

if [ "$scenario" = exit-scanning ]; then
    click 277 212
    wait_program 10
    expect_eq "$?" 0 "exit status after Exit"
    stop_simulator
    expect_eq "$(report_value bytes_received)" 0 "bytes the unit received"
    exit 0
fi

wait_for_log "identification answered" 30 || fail "unit not found"
expect_screen question 10 "no question after the identification"
cp "$SESSION_DIR/screen.png" "$out/question.png"

if [ "$scenario" = decline ]; then
    # Only the answer to the identification went out: nothing after the version line.
    decline
    expect_eq "$(report_value erased)" no "erased"
    exit 0
fi

case "$scenario" in
    latency | ident5-echo | ident2-stray) ;;
    *)
        click_yes
        wait_for_log "programming requested" 20 || fail "programming never requested"
        ;;
esac

case "$scenario" in
    close-uploading)
        sleep 2
        screenshot "$out/upload.png"
        close_window
        wait_program 10
        expect_eq "$?" 0 "exit status after closing during the upload"
        stop_simulator
        records=$(report_value records_received)
        [ "$records" -gt 0 ] && [ "$records" -lt 2263 ] || fail "records sent: $records"
        ;;
    done-early)
        wait_for_log "saying Done" 20 || fail "no Done"
        expect_screen failure 2 "after Done"
        cp "$SESSION_DIR/screen.png" "$out/failure.png"
        echo "seconds_to_failure_screen: $SCREEN_SECONDS"
        # " VKT-5 ended the programming early" reaches far beyond " VKT-5 was disconnected"
        # (x 330) on the title line.
        right=$(ink_right "$out/failure.png" 175 50 320 18)
        [ "$right" -gt 400 ] || fail "the title is not the early end's (ends at x $right)"
        wait_for_log "powered up: boot-up 2" 5 || fail "the unit did not power up again"
        click_retry
        complete_upgrade
        expect_eq "$(report_value boot_ups)" 2 "boot-ups"
        ;;
    latency | ident5-echo | ident2-stray)
        # The version on the question is the whole one, not a repeat of the identification
        # taken for it: " Would you like to upgrade V1.001" reaches x 386, with "V" alone 350.
        right=$(ink_right "$out/question.png" 175 50 320 18)
        [ "$right" -gt 375 ] || fail "the question does not show the whole version (ends at x $right)"
        complete_upgrade 300
        echo "upload_seconds: $(report_value upload_seconds)"
        ;;
    full)
        sleep 2
        screenshot "$out/upload.png"
        wait_for_log "end-of-file record" 120 || fail "upload did not finish"
        sleep 0.3
        screenshot "$out/success.png"
        click 277 212
        wait_program 10
        expect_eq "$?" 0 "exit status after OK"
        stop_simulator
        expect_whole_image
        echo "upload_seconds: $(report_value upload_seconds)"
        if [ "${VKT5_E2E_FAST:-0}" = 1 ]; then
            awk -v s="$(report_value upload_seconds)" -v l=$FAST_UPLOAD_LIMIT_SECONDS \
                'BEGIN { exit !(s != "" && s < l) }' ||
                fail "fast mode: the upload took $(report_value upload_seconds) s"
        fi
        ;;
    *) fail "unknown scenario" ;;
esac
exit 0
