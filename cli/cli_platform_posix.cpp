#include "cli/cli_platform_posix.h"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <ctime>

namespace vkt5::cli {

namespace {

volatile std::sig_atomic_t interrupted = 0;

void onInterrupt(int /*signal*/) {
    interrupted = 1;
}

class PosixCliPlatform final : public CliPlatform {
  public:
    PosixCliPlatform() : start_(std::chrono::steady_clock::now()) {
        struct sigaction action {};
        action.sa_handler = onInterrupt;
        sigemptyset(&action.sa_mask);
        sigaction(SIGINT, &action, nullptr);
        sigset_t blocked;
        sigemptyset(&blocked);
        sigaddset(&blocked, SIGINT);
        sigprocmask(SIG_BLOCK, &blocked, &waitMask_);
        sigdelset(&waitMask_, SIGINT);
    }

    std::int64_t nowMicros() override {
        return std::chrono::duration_cast<std::chrono::microseconds>(
                   std::chrono::steady_clock::now() - start_)
            .count();
    }

    Wake wait(std::int64_t beatDue, const std::vector<std::intptr_t>& handles,
              bool wantInput) override {
        Wake wake;
        std::vector<pollfd> fds;
        for (const std::intptr_t handle : handles) {
            fds.push_back({static_cast<int>(handle), POLLIN, 0});
        }
        if (wantInput) {
            fds.push_back({STDIN_FILENO, POLLIN, 0});
        }
        const std::int64_t left = beatDue - nowMicros();
        timespec timeout{};
        if (left > 0) {
            timeout.tv_sec = static_cast<time_t>(left / 1'000'000);
            timeout.tv_nsec = static_cast<long>(left % 1'000'000 * 1000);
        }
        const int ready = ppoll(fds.data(), fds.size(), &timeout, &waitMask_);
        if (ready > 0) {
            for (std::size_t i = 0; i < handles.size(); ++i) {
                if (fds[i].revents != 0) {
                    wake.ready.push_back(handles[i]);
                }
            }
            wake.input = wantInput && fds.back().revents != 0;
        }
        if (interrupted != 0) {
            interrupted = 0;
            wake.interrupt = true;
        }
        wake.beat = nowMicros() >= beatDue;
        return wake;
    }

    std::optional<std::string> readLine() override {
        // Bytes up to the line end; a terminal in its usual mode hands over a whole line at once.
        std::string line;
        char c = 0;
        while (true) {
            const ssize_t got = ::read(STDIN_FILENO, &c, 1);
            if (got == 1) {
                if (c == '\n') {
                    return line;
                }
                line += c;
            } else if (got < 0 && errno == EINTR) {
                continue;
            } else {
                return line.empty() ? std::nullopt : std::optional<std::string>(line);
            }
        }
    }

    bool inputIsTerminal() override { return isatty(STDIN_FILENO) == 1; }
    bool outputIsTerminal() override { return isatty(STDOUT_FILENO) == 1; }
    void out(std::string_view text) override { writeAll(STDOUT_FILENO, text); }
    void err(std::string_view text) override { writeAll(STDERR_FILENO, text); }

    std::string utcTime() override {
        const std::time_t now = std::time(nullptr);
        std::tm parts{};
        gmtime_r(&now, &parts);
        char text[32];
        std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
        return text;
    }

    bool portWaits() const override { return true; }
    bool posix() const override { return true; }

  private:
    static void writeAll(int fd, std::string_view text) {
        while (!text.empty()) {
            const ssize_t wrote = ::write(fd, text.data(), text.size());
            if (wrote < 0 && errno == EINTR) {
                continue;
            }
            if (wrote <= 0) {
                return;
            }
            text.remove_prefix(static_cast<std::size_t>(wrote));
        }
    }

    std::chrono::steady_clock::time_point start_;
    sigset_t waitMask_{};
};

}  // namespace

std::unique_ptr<CliPlatform> makePosixCliPlatform() {
    return std::make_unique<PosixCliPlatform>();
}

}  // namespace vkt5::cli
