# The command line's rows of the benchmark (sourced by run-benchmarks): one unit alone, then eight
# units at once on eight simulated ports, each through the whole upload at the program's beat.
# Wall time is the program's own, from exec to exit (search, dialogue and upload); CPU is user and
# system time of the program's process (getrusage of the waited-for child: over 70 s the 10 ms
# steps of that account do not matter), per unit.
#
# Needs: $cli, $sim, $image, $out, remember (session.sh). Sets CLI_ONE_S, CLI_EIGHT_S, CLI_RATIO,
# CLI_ONE_CPU_S, CLI_EIGHT_CPU_PER_UNIT_S, CLI_EIGHT_OK (units whose flash equals the image).

# cli_timed OUTPUT ARGS...: runs the program under the guard; "status wall_s cpu_s" on stdout.
cli_timed() {
    local output=$1
    shift
    python3 - "$output" "$@" <<'PY'
import resource, subprocess, sys, time
guard = ['unshare', '--mount', '--propagation', 'private', 'sh', '-c',
         'for d in /dev/ttyS* /dev/ttyUSB* /dev/ttyACM*; do [ -e "$d" ] && '
         'mount --bind /dev/null "$d"; done; exec "$@"', 'guard']
with open(sys.argv[1], 'wb') as out:
    start = time.monotonic()
    status = subprocess.call(guard + sys.argv[2:], stdout=out, stderr=subprocess.STDOUT,
                             stdin=subprocess.DEVNULL)
    wall = time.monotonic() - start
usage = resource.getrusage(resource.RUSAGE_CHILDREN)
print(status, '%.3f' % wall, '%.3f' % (usage.ru_utime + usage.ru_stime))
PY
}

# cli_units DIR N: N simulated units linked at DIR/unit1..N; their PIDs in CLI_SIM_PIDS.
cli_units() {
    local dir=$1 n=$2 i
    mkdir -p "$dir"
    CLI_SIM_PIDS=""
    for i in $(seq 1 "$n"); do
        "$sim" --link "$dir/unit$i" --report "$dir/unit$i.report" --compare-image "$image" \
            >/dev/null 2>&1 &
        CLI_SIM_PIDS="$CLI_SIM_PIDS $!"
        remember $!
    done
    for i in $(seq 1 "$n"); do
        for _ in $(seq 100); do
            [ -e "$dir/unit$i" ] && break
            sleep 0.02
        done
    done
}
cli_stop_units() {
    local pid
    for pid in $CLI_SIM_PIDS; do kill "$pid" 2>/dev/null; done
    for pid in $CLI_SIM_PIDS; do wait "$pid" 2>/dev/null; done
}

cli_rows() {
    local dir=$out/cli one eight ports i status
    echo "Command line: one unit alone, then eight at once (about 150 s) ..."
    cli_units "$dir/one" 1
    read -r status CLI_ONE_S CLI_ONE_CPU_S < <(cli_timed "$dir/one/cli.out" "$cli" \
        --port "$dir/one/unit1" --yes)
    cli_stop_units
    [ "$status" = 0 ] || log "one unit: exit status $status"

    cli_units "$dir/eight" 8
    ports=""
    for i in $(seq 1 8); do ports="$ports${ports:+,}$dir/eight/unit$i"; done
    read -r status CLI_EIGHT_S eight < <(cli_timed "$dir/eight/cli.out" "$cli" --port "$ports" --yes)
    cli_stop_units
    [ "$status" = 0 ] || log "eight units: exit status $status"
    CLI_EIGHT_CPU_PER_UNIT_S=$(awk -v c="$eight" 'BEGIN { printf "%.3f", c / 8 }')
    CLI_RATIO=$(awk -v a="$CLI_EIGHT_S" -v b="$CLI_ONE_S" 'BEGIN { printf "%.3f", a / b }')
    CLI_EIGHT_OK=0
    for i in $(seq 1 8); do
        [ "$(value "$dir/eight/unit$i.report" flash_matches_image)" = yes ] &&
            CLI_EIGHT_OK=$((CLI_EIGHT_OK + 1))
    done
}
