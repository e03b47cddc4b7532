// A pseudo-terminal for the serial tests: the test plays the far end of the line on the master,
// and the port service opens the slave by its path. No test touches a real serial device.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>

#include "serial/serial_port_posix.h"

namespace vkt5::test {

// Whether another program could open the device now: a child process with an opener of its own.
inline bool otherProgramCanOpen(const std::string& path) {
    const pid_t child = ::fork();
    if (child == 0) {
        auto opener = makePosixSerialOpener({PosixPortMap(""), {}, nullptr});
        ::_exit(opener->open(path).status == PortStatus::Ok ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

class TestPty {
  public:
    TestPty() {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
            throw std::runtime_error("no pseudo-terminal");
        }
        slavePath_ = ::ptsname(master_);
    }
    ~TestPty() {
        closeMaster();
        if (observer_ >= 0) {
            ::close(observer_);
        }
    }
    TestPty(const TestPty&) = delete;
    TestPty& operator=(const TestPty&) = delete;

    const std::string& slavePath() const { return slavePath_; }
    int masterFd() const { return master_; }

    // A second descriptor on the slave, for reading back and changing its termios the way an
    // outsider would. Taken before the port service opens the slave, so that the service's
    // exclusive hold does not stand in the way when the tests run without root.
    int observer() {
        if (observer_ < 0) {
            observer_ = ::open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
            if (observer_ < 0) {
                throw std::runtime_error("cannot open the slave");
            }
        }
        return observer_;
    }

    // The far end sends.
    void send(std::string_view bytes) {
        while (!bytes.empty()) {
            const ssize_t put = ::write(master_, bytes.data(), bytes.size());
            if (put > 0) {
                bytes.remove_prefix(static_cast<std::size_t>(put));
            } else {
                pollfd p{master_, POLLOUT, 0};
                ::poll(&p, 1, 100);
            }
        }
    }

    // What the far end received: up to `count` bytes, waiting at most `timeout` for them.
    std::string receive(std::size_t count, std::chrono::milliseconds timeout) {
        std::string got;
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (got.size() < count) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                end - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                break;
            }
            pollfd p{master_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) {
                continue;
            }
            char buffer[4096];
            const std::size_t want = std::min(sizeof buffer, count - got.size());
            const ssize_t n = ::read(master_, buffer, want);
            if (n > 0) {
                got.append(buffer, static_cast<std::size_t>(n));
            } else if ((p.revents & (POLLHUP | POLLERR)) != 0) {
                break;
            }
        }
        return got;
    }

    // The far end goes away.
    void closeMaster() {
        if (master_ >= 0) {
            ::close(master_);
            master_ = -1;
        }
    }

  private:
    int master_ = -1;
    int observer_ = -1;
    std::string slavePath_;
};

// A boot loader that repeats its identification every 50 ms, whether anyone listens or not.
class RepeatingUnit {
  public:
    explicit RepeatingUnit(TestPty& pty)
        : thread_([this, &pty] {
              while (!stop_) {
                  // The master is non-blocking: a line that finds no room is simply lost, as it
                  // would be on a line nobody reads.
                  [[maybe_unused]] const auto put = ::write(pty.masterFd(), "VKT5\r\n", 6);
                  std::this_thread::sleep_for(std::chrono::milliseconds(50));
              }
          }) {}
    ~RepeatingUnit() {
        stop_ = true;
        thread_.join();
    }

  private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace vkt5::test
