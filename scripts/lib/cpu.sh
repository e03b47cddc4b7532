# Processor time of processes as the scheduler accounts it: the run time of every thread, from
# /proc/PID/task/*/schedstat, in nanoseconds. utime and stime in /proc/PID/stat move in 10 ms
# steps, so over a few seconds they cannot tell 1 % from 2 %; these counters can.
#
# A thread that ends inside a window takes its time with it, so measure processes whose threads
# stay (a program that waits, the wineserver). A process that is gone counts nothing.
#
# Sourced by the end-to-end tests (through session.sh, or directly) and by the benchmarks.

# cpu_ns PID...: the run time so far of every thread of those processes, summed.
cpu_ns() {
    local total=0 pid f ns rest
    for pid in "$@"; do
        for f in /proc/"$pid"/task/*/schedstat; do
            read -r ns rest 2>/dev/null <"$f" && total=$((total + ns))
        done
    done
    echo "$total"
}

# cpu_mark PID...: a starting point for cpu_since: the processes' run time and the wall clock.
cpu_mark() { echo "$(cpu_ns "$@") $(date +%s%N)"; }

# cpu_since MARK PID...: the share of one core (in %) those processes used since the mark.
cpu_since() {
    local mark=$1 ns wall
    shift
    ns=$(cpu_ns "$@") wall=$(date +%s%N)
    awk -v m="$mark" -v ns="$ns" -v wall="$wall" \
        'BEGIN { split(m, a, " "); printf "%.2f\n", 100 * (ns - a[1]) / (wall - a[2]) }'
}

# cpu_percent SECONDS PID...: the share of one core (in %) those processes use over the next
# SECONDS.
cpu_percent() {
    local seconds=$1 mark
    shift
    mark=$(cpu_mark "$@")
    sleep "$seconds"
    cpu_since "$mark" "$@"
}
