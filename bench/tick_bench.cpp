// Times every tick of the real core over the real termios back-end: the sequencer, the port
// registry and the POSIX opener, driven every 15 ms as the window's timer would, with a host that
// draws nothing. Point --ports at ptys (the unit simulator and, if wanted, silent ones); Yes is
// answered as soon as the question is asked. Prints key: value lines. The ticks are reported in
// stretches: "open" (a scan tick that opens the next port, which includes the scan's deliberate
// 2 ms pause after the open), "scan" (the other scan ticks), "dialogue" (between finding the
// unit and the first image line) and "upload" (the line loop).
//
//   vkt5-tick-bench --ports LIST [--image PATH] [--until found|done] [--max-seconds N]
#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/startup.h"
#include "app/upgrade_sequencer.h"
#include "cli/headless_host.h"
#include "serial/port_registry.h"
#include "serial/serial_port_posix.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
    std::string ports;
    std::string image = VKT5_IMAGE_FILE;
    bool untilFound = false;
    int maxSeconds = 600;
};

bool parse(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc) {
            return false;
        }
        const std::string value = argv[++i];
        if (arg == "--ports") {
            options.ports = value;
        } else if (arg == "--image") {
            options.image = value;
        } else if (arg == "--until") {
            if (value != "found" && value != "done") {
                return false;
            }
            options.untilFound = value == "found";
        } else if (arg == "--max-seconds") {
            options.maxSeconds = std::atoi(value.c_str());
        } else {
            return false;
        }
    }
    return true;
}

// The calling thread's CPU time: unlike the clock on the wall, it does not run on while another
// process has the core, so it tells our work apart from the machine's load.
double threadCpuUs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e6 + static_cast<double>(t.tv_nsec) / 1e3;
}

double quantile(const std::vector<double>& values, double q) {
    if (values.empty()) {
        return 0.0;
    }
    std::vector<double> sorted = values;
    std::sort(sorted.begin(), sorted.end());
    const auto at = static_cast<std::size_t>(q * static_cast<double>(sorted.size() - 1) + 0.5);
    return sorted[at];
}

// Microseconds per tick of one stretch of the run, on the wall clock and in CPU time.
struct TickTimes {
    std::vector<double> us;
    std::vector<double> cpuUs;

    void add(double wall, double cpu) {
        us.push_back(wall);
        cpuUs.push_back(cpu);
    }

    void print(const char* name) const {
        std::printf("%s_ticks: %zu\n", name, us.size());
        std::printf("%s_tick_max_us: %.1f\n", name, quantile(us, 1.0));
        std::printf("%s_tick_p99_us: %.1f\n", name, quantile(us, 0.99));
        std::printf("%s_tick_median_us: %.1f\n", name, quantile(us, 0.5));
        std::printf("%s_tick_cpu_max_us: %.1f\n", name, quantile(cpuUs, 1.0));
        std::printf("%s_tick_cpu_p99_us: %.1f\n", name, quantile(cpuUs, 0.99));
        std::printf("%s_tick_cpu_median_us: %.1f\n", name, quantile(cpuUs, 0.5));
    }
};

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parse(argc, argv, options)) {
        std::fprintf(stderr,
                     "usage: vkt5-tick-bench --ports LIST [--image PATH] [--until found|done] "
                     "[--max-seconds N]\n");
        return 2;
    }
    std::ifstream in(options.image, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    if (!in) {
        std::fprintf(stderr, "vkt5-tick-bench: cannot read %s\n", options.image.c_str());
        return 2;
    }
    const std::string image = text.str();

    // The bench runs on ptys of its own: no lock files, so it never writes into /run/lock.
    const auto opener =
        vkt5::makePosixSerialOpener({vkt5::PosixPortMap(options.ports), {}, nullptr});
    vkt5::PortRegistry ports(*opener);
    vkt5::cli::HeadlessHost dialog;  // draws nothing: what is timed is the core and the port
    const auto state = std::make_unique<vkt5::UpgradeState>();
    if (!vkt5::initialiseState(*state, image)) {
        std::fprintf(stderr, "vkt5-tick-bench: the image has no line to send\n");
        return 2;
    }
    vkt5::UpgradeSequencer sequencer(*state, ports, dialog);
    sequencer.handleEvent(nullptr, vkt5::MSG_INIT_DIALOG, 0, 0);

    TickTimes open;
    TickTimes scan;
    TickTimes dialogue;
    TickTimes upload;
    TickTimes all;
    long tick = 0;
    long foundTick = 0;
    long programmingTicks = 0;
    long lateTicks = 0;
    const auto interval = std::chrono::milliseconds(vkt5::TICK_INTERVAL_MS);
    const Clock::time_point start = Clock::now();
    Clock::time_point due = start + interval;
    Clock::time_point programmingStart{};
    Clock::time_point programmingEnd{};
    double foundSeconds = 0.0;
    std::string slowTicks;  // every tick over 1 ms, with what else happened in it
    bool timedOut = false;

    while (state->phase != vkt5::Finished && !dialog.ended()) {
        std::this_thread::sleep_until(due);
        rusage usageBefore{};
        getrusage(RUSAGE_THREAD, &usageBefore);
        const Clock::time_point begin = Clock::now();
        const double cpuBegin = threadCpuUs();
        // A tick that falls due while the previous one is still pending is not made up.
        if (begin - due > interval) {
            ++lateTicks;
            due = begin;
        }
        due += interval;
        ++tick;
        const std::int32_t phase = state->phase;
        const bool opening = phase == vkt5::ScanPorts && state->portOpen == 0;
        const std::int32_t stepBefore = state->step;
        const bool inLineLoop = phase == vkt5::Programming && state->step > vkt5::RequestProgram;
        sequencer.handleEvent(nullptr, vkt5::MSG_TIMER, vkt5::TICK_ID, 0);
        const double us = std::chrono::duration<double, std::micro>(Clock::now() - begin).count();
        const double cpuUs = threadCpuUs() - cpuBegin;

        all.add(us, cpuUs);
        if (us > 1000.0 && !opening) {
            // What else happened in the tick: page faults, and switches away from the thread.
            rusage usageAfter{};
            getrusage(RUSAGE_THREAD, &usageAfter);
            slowTicks += " " + std::to_string(tick) + ":" + std::to_string(static_cast<long>(us)) +
                         "us/cpu" + std::to_string(static_cast<long>(cpuUs)) + "us/step" +
                         std::to_string(stepBefore) + "/faults" +
                         std::to_string(usageAfter.ru_minflt - usageBefore.ru_minflt +
                                        usageAfter.ru_majflt - usageBefore.ru_majflt) +
                         "/switches" +
                         std::to_string(usageAfter.ru_nvcsw - usageBefore.ru_nvcsw +
                                        usageAfter.ru_nivcsw - usageBefore.ru_nivcsw);
        }
        if (opening) {
            open.add(us, cpuUs);
        } else if (phase == vkt5::ScanPorts) {
            scan.add(us, cpuUs);
        } else if (inLineLoop) {
            upload.add(us, cpuUs);
            if (programmingTicks++ == 0) {
                programmingStart = begin;
            }
            programmingEnd = begin;
        } else {
            dialogue.add(us, cpuUs);
        }
        if (foundTick == 0 && state->phase != vkt5::ScanPorts) {
            foundTick = tick;
            foundSeconds = std::chrono::duration<double>(begin - start).count();
            if (options.untilFound) {
                break;
            }
        }
        if (state->phase == vkt5::AwaitAnswer) {
            sequencer.handleEvent(nullptr, vkt5::MSG_COMMAND, vkt5::ID_YES, 0);
        }
        if (begin - start > std::chrono::seconds(options.maxSeconds)) {
            timedOut = true;
            break;
        }
    }
    // Closes the port, as OK does.
    if (state->phase == vkt5::Finished) {
        sequencer.handleEvent(nullptr, vkt5::MSG_COMMAND, vkt5::ID_OK, 0);
    }

    std::printf("result: %s\n", timedOut                               ? "timeout"
                                : state->phase == vkt5::Finished       ? "finished"
                                : foundTick != 0 && options.untilFound ? "found"
                                                                       : "ended");
    std::printf("found_tick: %ld\n", foundTick);
    std::printf("found_port: %d\n", foundTick != 0 ? state->portNumber : 0);
    std::printf("found_seconds: %.3f\n", foundSeconds);
    std::printf("lines_sent: %d\n", state->linesSent);
    std::printf("programming_ticks: %ld\n", programmingTicks);
    std::printf("programming_seconds: %.3f\n",
                std::chrono::duration<double>(programmingEnd - programmingStart).count() +
                    (programmingTicks > 0 ? 0.015 : 0.0));
    std::printf("late_ticks: %ld\n", lateTicks);
    std::printf("slow_ticks:%s\n", slowTicks.c_str());
    all.print("all");
    open.print("open");
    scan.print("scan");
    dialogue.print("dialogue");
    upload.print("upload");
    return timedOut ? 1 : 0;
}
