// vkt5-unit-sim: a VKT-5 boot loader on a pseudo-terminal, for trying the upgrade utility without
// a unit. One thread, one poll loop: the unit's timers, the paced line (when asked for) and the
// terminal all feed the same UnitProtocol. See SIM_USAGE for the options.
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "tools/unit_sim/line_pacer.h"
#include "tools/unit_sim/pty_link.h"
#include "tools/unit_sim/sim_options.h"
#include "tools/unit_sim/sim_report.h"
#include "tools/unit_sim/unit_protocol.h"

namespace vkt5::sim {
namespace {

// While nobody has the port open the master reports POLLHUP without pause, so it is left out of
// poll() and looked at this often instead.
constexpr SimTime CLOSED_PORT_CHECK = std::chrono::milliseconds(2);
// Output that the terminal does not take (nobody reading for a long time) is kept up to this
// much; beyond it the oldest goes, as a real line would lose it.
constexpr std::size_t MAX_UNSENT = 64 * 1024;
// Closing the master hangs up the slave and throws away what it has not read yet, so after the
// end-of-file record the simulator stays this long for its last prompt to be read.
constexpr SimTime EOF_LINGER = std::chrono::milliseconds(200);

constexpr int EXIT_DONE = 0;
constexpr int EXIT_SETUP_FAILED = 1;
constexpr int EXIT_USAGE = 2;
constexpr int EXIT_TIMED_OUT = 3;

std::string escaped(std::string_view bytes) {
    std::string text;
    for (const char c : bytes) {
        const auto value = static_cast<unsigned char>(c);
        if (c == '\r') {
            text += "\\r";
        } else if (c == '\n') {
            text += "\\n";
        } else if (value < 0x20 || value >= 0x7F || c == '\\') {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", value);
            text += hex;
        } else {
            text += c;
        }
    }
    return text;
}

// A write's bytes for the trace, quoted; a long one (the streaming fault's) is cut
// short so that the trace does not grow at the stream's rate.
std::string traced(std::string_view bytes) {
    constexpr std::size_t SHOWN = 160;
    if (bytes.size() <= SHOWN) {
        return "\"" + escaped(bytes) + "\"";
    }
    return "\"" + escaped(bytes.substr(0, SHOWN)) + "\"... (" + std::to_string(bytes.size()) +
           " bytes)";
}

bool readFile(const std::string& path, std::string& into) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    std::ostringstream buffer;
    buffer << in.rdbuf();
    into = buffer.str();
    return true;
}

class Simulator {
  public:
    Simulator(const SimOptions& options, const ReferenceImage* image, int signalFd)
        : options_(options), image_(image), signalFd_(signalFd), unit_(options.unit) {
        if (options_.verbose) {
            unit_.trace = [](SimTime at, const std::string& what) { say(at, what); };
        }
    }

    int run() {
        if (!options_.wireLogPath.empty()) {
            wireLog_ = std::fopen(options_.wireLogPath.c_str(), "w");
            if (wireLog_ == nullptr) {
                std::fprintf(stderr, "vkt5-unit-sim: %s: %s\n", options_.wireLogPath.c_str(),
                             std::strerror(errno));
                return EXIT_SETUP_FAILED;
            }
            // Whole lines as they happen, so that a test can read the log while the unit runs.
            std::setvbuf(wireLog_, nullptr, _IOLBF, 0);
        }
        if (!openTerminal()) {
            return EXIT_SETUP_FAILED;
        }
        while (true) {
            const SimTime t = now();
            if (options_.exitAfter && t >= *options_.exitAfter) {
                return finish("timeout", EXIT_TIMED_OUT);
            }
            if (options_.baudPace) {
                if (const std::string in = rxLine_.takeDue(t); !in.empty()) {
                    unit_.receive(in, t);
                }
            }
            unit_.advance(t);
            if (unit_.hangUps() != hangUpsSeen_) {
                hangUpsSeen_ = unit_.hangUps();
                dropTerminal();
                if (unit_.hangupRequested() && !unit_.powerUpTime()) {
                    return finish("hangup", EXIT_DONE);
                }
                writeResults("hangup");
            }
            if (unit_.boots() != bootsSeen_) {
                bootsSeen_ = unit_.boots();
                leaveAt_.reset();
            }
            if (!pty_.isOpen() && !unit_.hangupRequested() && !openTerminal()) {
                return finish("setup failed", EXIT_SETUP_FAILED);
            }
            send(t);
            if (options_.exitAfterEof && unit_.tally().eofSeen && !unit_.powerUpTime() &&
                !unit_.outputPending() && txLine_.empty() && unsent_.empty()) {
                if (!leaveAt_) {
                    leaveAt_ = t + EOF_LINGER;
                } else if (t >= *leaveAt_) {
                    return finish("eof", EXIT_DONE);
                }
            }
            if (!wait(t)) {
                return finish("signal", EXIT_DONE);
            }
            if (!serviceTerminal()) {
                return finish("closed", EXIT_DONE);
            }
        }
    }

  private:
    static void say(SimTime at, const std::string& what) {
        std::fprintf(stderr, "[%10.3f] %s\n", static_cast<double>(at.count()) / 1e9, what.c_str());
    }

    // A new terminal (and link) for the unit; its path goes to standard output, one line each.
    bool openTerminal() {
        std::string error;
        if (!pty_.open(options_.linkPath, &error)) {
            std::fprintf(stderr, "vkt5-unit-sim: %s\n", error.c_str());
            return false;
        }
        peerOpen_ = false;
        std::printf("%s\n", pty_.slavePath().c_str());
        std::fflush(stdout);
        if (options_.verbose) {
            say(now(), "unit on " + pty_.slavePath());
        }
        return true;
    }

    // The unit was unplugged: its terminal goes, and with it whatever was still on the line.
    void dropTerminal() {
        pty_.hangUp();
        peerOpen_ = false;
        unsent_.clear();
        rxLine_ = LinePacer();
        txLine_ = LinePacer();
    }

    // One line per chunk read or written: seconds since the start (microseconds), the direction
    // and the bytes, escaped.
    void logWire(SimTime t, const char* direction, std::string_view bytes) {
        if (wireLog_ == nullptr || bytes.empty()) {
            return;
        }
        const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(t).count();
        std::fprintf(wireLog_, "%lld.%06lld %s %s\n", static_cast<long long>(micros / 1'000'000),
                     static_cast<long long>(micros % 1'000'000), direction, escaped(bytes).c_str());
    }

    SimTime now() const {
        return std::chrono::duration_cast<SimTime>(std::chrono::steady_clock::now() - start_);
    }

    void send(SimTime t) {
        const std::string out = unit_.takeDue(t);
        if (options_.baudPace) {
            txLine_.push(out, t);
            unsent_ += txLine_.takeDue(t);
        } else {
            unsent_ += out;
        }
        if (unsent_.size() > MAX_UNSENT) {
            unsent_.erase(0, unsent_.size() - MAX_UNSENT);
        }
        const std::size_t written = pty_.write(unsent_);
        logWire(t, "tx", std::string_view(unsent_).substr(0, written));
        if (written > 0 && options_.verbose) {
            say(t, "unit sends " + traced(std::string_view(unsent_).substr(0, written)));
        }
        bytesSent_ += written;
        unsent_.erase(0, written);
    }

    // Sleeps until the next thing to do; false when a terminating signal came.
    bool wait(SimTime t) {
        std::optional<SimTime> deadline = options_.exitAfter;
        const auto consider = [&deadline](std::optional<SimTime> when) {
            if (when) {
                deadline = deadline ? std::min(*deadline, *when) : *when;
            }
        };
        consider(unit_.nextDue());
        consider(rxLine_.nextDue());
        consider(txLine_.nextDue());
        consider(leaveAt_);
        if (pty_.isOpen() && !peerOpen_) {
            consider(t + CLOSED_PORT_CHECK);
        }
        pollfd fds[2] = {
            {peerOpen_ ? pty_.fd() : -1,
             static_cast<short>(POLLIN | (unsent_.empty() ? 0 : POLLOUT)), 0},
            {signalFd_, POLLIN, 0},
        };
        timespec timeout{};
        timespec* timeoutPtr = nullptr;
        if (deadline) {
            const auto left = std::max(*deadline - t, SimTime{0});
            timeout.tv_sec = static_cast<time_t>(left.count() / 1'000'000'000);
            timeout.tv_nsec = static_cast<long>(left.count() % 1'000'000'000);
            timeoutPtr = &timeout;
        }
        ppoll(fds, 2, timeoutPtr, nullptr);
        if ((fds[1].revents & POLLIN) != 0) {
            signalfd_siginfo info{};
            if (::read(signalFd_, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
                if (options_.verbose) {
                    say(now(),
                        std::string("signal ") + strsignal(static_cast<int>(info.ssi_signo)));
                }
                if (info.ssi_signo == SIGUSR1) {
                    if (!unit_.canPowerUp() && options_.verbose) {
                        say(now(), "no power-up left (--units)");
                    }
                    unit_.powerUp(now());
                    return true;
                }
                return false;
            }
        }
        return true;
    }

    // Reads what the program wrote and follows it opening and closing the port; false when the
    // simulator should end because the program closed the port.
    bool serviceTerminal() {
        if (!pty_.isOpen()) {
            return true;  // hung up, waiting to power up
        }
        pollfd probe{pty_.fd(), POLLIN, 0};
        ::poll(&probe, 1, 0);
        const bool hungUp = (probe.revents & POLLHUP) != 0;
        if ((probe.revents & POLLIN) != 0) {
            std::string in;
            std::string chunk;
            while (pty_.read(chunk) == PtyLink::ReadResult::Data) {
                logWire(now(), "rx", chunk);
                in += chunk;
                chunk.clear();
            }
            if (!in.empty()) {
                const SimTime t = now();
                if (options_.verbose) {
                    say(t, "unit receives \"" + escaped(in) + "\"");
                }
                if (options_.baudPace) {
                    rxLine_.push(in, t);
                } else {
                    unit_.receive(in, t);
                }
            }
        }
        if (!hungUp && !peerOpen_) {
            peerOpen_ = true;
            if (options_.verbose) {
                say(now(), "port opened");
            }
        } else if (hungUp && peerOpen_) {
            peerOpen_ = false;
            if (options_.verbose) {
                say(now(), "port closed");
            }
            if (unit_.tally().programAt) {
                if (options_.exitOnClose) {
                    return false;
                }
                writeResults("closed");
            }
        }
        return true;
    }

    int finish(const char* reason, int code) {
        if (options_.verbose) {
            say(now(), std::string("ending: ") + reason);
        }
        if (!writeResults(reason) && code == EXIT_DONE) {
            code = EXIT_SETUP_FAILED;
        }
        pty_.close();
        if (wireLog_ != nullptr) {
            std::fclose(wireLog_);
            wireLog_ = nullptr;
        }
        return code;
    }

    bool writeResults(const char* reason) {
        bool ok = true;
        std::string error;
        const auto put = [&](const std::string& path, std::string_view bytes) {
            if (!path.empty() && !writeFileAtomically(path, bytes, &error)) {
                std::fprintf(stderr, "vkt5-unit-sim: %s\n", error.c_str());
                ok = false;
            }
        };
        put(options_.flashHexPath, unit_.flash().toIntelHex());
        const std::vector<std::uint8_t> binary = unit_.flash().toBinary();
        put(options_.flashBinPath,
            std::string_view(reinterpret_cast<const char*>(binary.data()), binary.size()));
        put(options_.reportPath, formatReport({unit_, reason, bytesSent_, image_}));
        return ok;
    }

    const SimOptions& options_;
    const ReferenceImage* image_;
    int signalFd_;
    UnitProtocol unit_;
    PtyLink pty_;
    LinePacer rxLine_;
    LinePacer txLine_;
    std::string unsent_;
    std::uint64_t bytesSent_ = 0;
    bool peerOpen_ = false;
    std::uint64_t hangUpsSeen_ = 0;
    std::uint64_t bootsSeen_ = 1;
    std::FILE* wireLog_ = nullptr;
    std::optional<SimTime> leaveAt_;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

int runSimulator(int argc, char** argv) {
    const ParsedOptions parsed = parseSimOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.options) {
        if (parsed.error.empty()) {
            std::fputs(SIM_USAGE, stdout);
            return EXIT_DONE;
        }
        std::fprintf(stderr, "vkt5-unit-sim: %s (try --help)\n", parsed.error.c_str());
        return EXIT_USAGE;
    }
    const SimOptions& options = *parsed.options;

    std::optional<ReferenceImage> image;
    if (!options.compareImagePath.empty()) {
        std::string text;
        std::string error;
        if (!readFile(options.compareImagePath, text)) {
            std::fprintf(stderr, "vkt5-unit-sim: cannot read %s\n",
                         options.compareImagePath.c_str());
            return EXIT_SETUP_FAILED;
        }
        image = readReferenceImage(text, &error);
        if (!image) {
            std::fprintf(stderr, "vkt5-unit-sim: %s: %s\n", options.compareImagePath.c_str(),
                         error.c_str());
            return EXIT_SETUP_FAILED;
        }
    }

    // Signals arrive through the poll loop, so the results are always written.
    sigset_t stopping;
    sigemptyset(&stopping);
    sigaddset(&stopping, SIGINT);
    sigaddset(&stopping, SIGTERM);
    sigaddset(&stopping, SIGHUP);
    sigaddset(&stopping, SIGUSR1);  // not stopping: powers the unit up afresh
    sigprocmask(SIG_BLOCK, &stopping, nullptr);
    // Whoever started us may stop reading standard output after the first terminal's path.
    signal(SIGPIPE, SIG_IGN);
    const int signalFd = signalfd(-1, &stopping, SFD_CLOEXEC | SFD_NONBLOCK);
    if (signalFd < 0) {
        std::fprintf(stderr, "vkt5-unit-sim: signalfd: %s\n", std::strerror(errno));
        return EXIT_SETUP_FAILED;
    }
    Simulator simulator(options, image ? &*image : nullptr, signalFd);
    const int code = simulator.run();
    ::close(signalFd);
    return code;
}

}  // namespace
}  // namespace vkt5::sim

int main(int argc, char** argv) {
    return vkt5::sim::runSimulator(argc, argv);
}
