#!/usr/bin/env bash
# The real program against the simulated unit on a private virtual display, clicked like a user.
#   upgrade_e2e.sh SCENARIO PROGRAM SIMULATOR IMAGE OUTDIR
# Scenarios: full, decline, exit-scanning, close-uploading, done-early; VKT5_E2E_FAST=1 runs them
# in fast mode.
set -u
scenario=$1 program=$2 sim=$3 image=$4 out=$5
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../scripts/lib/session.sh"


rm -rf "$out"
session_init "$out"
start_virtual_display

sim_options=()
[ "$scenario" = done-early ] && sim_options=(--done-after 40)
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
sleep 0.5
screenshot "$out/question.png"

if [ "$scenario" = decline ]; then
    # Only the answer to the identification went out: nothing after the version line.
    decline
    expect_eq "$(report_value erased)" no "erased"
    exit 0
fi

click 217 212
wait_for_log "programming requested" 20 || fail "programming never requested"

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
        sleep 1
        screenshot "$out/after-done.png"
        # No success screen: where OK would stand there is nothing to click.
        click 277 212
        wait_program 2
        expect_eq "$?" 124 "program still running after Done"
        close_window
        wait_program 10
        expect_eq "$?" 0 "exit status after closing"
        stop_simulator
        expect_eq "$(report_value records_received)" 40 "records sent"
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
        expect_eq "$(report_value records_received)" 2263 "records received"
        expect_eq "$(report_value bad_records)" 0 "bad records"
        expect_eq "$(report_value flash_matches_image)" yes "flash equals the image"
        expect_eq "$(report_value records_in_order)" yes "records in order"
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
