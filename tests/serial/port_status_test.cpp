// What the scan reports for each kind of port, on the real termios back-end: a missing path,
// /dev/null, ptys held by another process (with its lock file, or by a lock file alone, ASCII or
// binary), a stale lock file, the unit, and a pty this user may not open (the probe run as
// "nobody"). Lock files go to a folder of the test's own, never /run/lock.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "scan_round.h"
#include "serial/port_registry.h"
#include "serial/posix_lock_file.h"
#include "serial/scan_note.h"
#include "test_pty.h"

namespace vkt5 {
namespace {

using test::RepeatingUnit;
using test::TestPty;
namespace fs = std::filesystem;

class LockFolder {
  public:
    LockFolder() {
        char pattern[] = "/tmp/vkt5-locks-XXXXXX";
        if (::mkdtemp(pattern) == nullptr) {
            throw std::runtime_error("no temporary folder");
        }
        path_ = pattern;
    }
    ~LockFolder() { fs::remove_all(path_); }
    const fs::path& path() const { return path_; }
    fs::path lockOf(const std::string& device) const {
        return path_ / lockFileName(lockedPathOf(device));
    }
    std::string read(const std::string& device) const {
        std::ifstream in(lockOf(device), std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    void write(const std::string& device, std::string_view content) const {
        std::ofstream(lockOf(device), std::ios::binary) << content;
    }

  private:
    fs::path path_;
};

// A child process, stopped by its PID when the test ends; `holding` opens a device first, the
// way another copy of the program would, and keeps it.
class OtherProcess {
  public:
    explicit OtherProcess(const std::vector<std::string>& lockDirectories = {},
                          const std::string& holding = {}) {
        int ready[2];
        if (::pipe(ready) != 0) {
            throw std::runtime_error("no pipe");
        }
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(ready[0]);
            std::unique_ptr<SerialDeviceOpener> opener;
            OpenedDevice held;
            if (!holding.empty()) {
                opener = makePosixSerialOpener({PosixPortMap(""), lockDirectories, nullptr});
                held = opener->open(holding);
            }
            const char answer = held.status == PortStatus::Ok ? 'y' : 'n';
            [[maybe_unused]] const auto put = ::write(ready[1], &answer, 1);
            for (;;) {
                ::pause();
            }
        }
        ::close(ready[1]);
        char answer = 0;
        [[maybe_unused]] const auto got = ::read(ready[0], &answer, 1);
        ::close(ready[0]);
        opened_ = answer == 'y';
    }
    ~OtherProcess() { stop(); }
    void stop() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
    }
    pid_t pid() const { return pid_; }
    bool opened() const { return opened_; }

  private:
    pid_t pid_ = -1;
    bool opened_ = false;
};

// The PID of a process that has ended and been reaped.
pid_t deadPid() {
    const pid_t child = ::fork();
    if (child == 0) {
        ::_exit(0);
    }
    ::waitpid(child, nullptr, 0);
    return child;
}

std::string asciiPid(pid_t pid) {
    char text[16];
    std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(pid));
    return text;
}

bool cooked(int fd) {
    termios t{};
    return ::tcgetattr(fd, &t) == 0 && (t.c_lflag & ICANON) != 0;
}

TEST(PortStatus, EachKindOfPortAndTheNoteOfTheRound) {
    const LockFolder locks;
    const std::vector<std::string> lockDirs{locks.path().string()};
    TestPty heldWithLock, lockOnly, binaryLock, staleLock, silent, unitLine;
    const int lockOnlyObserver = lockOnly.observer();

    OtherProcess holder(lockDirs, heldWithLock.slavePath());
    ASSERT_TRUE(holder.opened());
    EXPECT_EQ(locks.read(heldWithLock.slavePath()), asciiPid(holder.pid()));
    const OtherProcess sleeper;
    locks.write(lockOnly.slavePath(), asciiPid(sleeper.pid()));
    const auto binaryPid = static_cast<std::int32_t>(sleeper.pid());
    locks.write(binaryLock.slavePath(),
                std::string_view(reinterpret_cast<const char*>(&binaryPid), sizeof binaryPid));
    locks.write(staleLock.slavePath(), asciiPid(deadPid()));

    RepeatingUnit unit(unitLine);
    auto opener = makePosixSerialOpener({PosixPortMap(""), lockDirs, nullptr});
    PortRegistry ports(*opener);
    UpgradeState state;
    const std::vector<std::string> names = {
        "/nonexistent/vkt5-port", "/dev/null",
        heldWithLock.slavePath(), lockOnly.slavePath(),
        binaryLock.slavePath(),   staleLock.slavePath(),
        silent.slavePath(),       unitLine.slavePath(),
    };
    test::scanOneRound(state, ports, names);

    const std::vector<PortState> expected = {
        PortState::Absent, PortState::NotTerminal, PortState::InUse,  PortState::InUse,
        PortState::InUse,  PortState::NoUnit,      PortState::NoUnit, PortState::Unit,
    };
    ASSERT_EQ(state.portReports.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(state.portReports[i].state, expected[i]) << names[i];
        EXPECT_EQ(state.portReports[i].device, names[i]);
    }
    EXPECT_EQ(scanNote(state), " " + heldWithLock.slavePath() + " is in use by another program");

    // A lock file alone keeps the device shut: it was not even opened (an open would have made
    // it raw).
    EXPECT_TRUE(cooked(lockOnlyObserver));
    // The stale lock was cleared on the way, and ours taken and given back again.
    EXPECT_FALSE(fs::exists(locks.lockOf(staleLock.slavePath())));
    // The unit's port is held, under our lock.
    EXPECT_EQ(locks.read(unitLine.slavePath()), asciiPid(::getpid()));
    ports.closePort(state.portFile);
    EXPECT_FALSE(fs::exists(locks.lockOf(unitLine.slavePath())));
    // Another program's lock file is never touched.
    EXPECT_EQ(locks.read(lockOnly.slavePath()), asciiPid(sleeper.pid()));
}

// Run as root, the test makes a pty only root may open and lets the probe scan it as "nobody".
TEST(PortStatus, ADeviceThisUserMayNotOpen) {
    if (::geteuid() != 0 || ::access("/usr/sbin/runuser", X_OK) != 0) {
        GTEST_SKIP() << "needs root and runuser";
    }
    TestPty pty;
    ASSERT_EQ(::chown(pty.slavePath().c_str(), 0, 0), 0);
    ASSERT_EQ(::chmod(pty.slavePath().c_str(), 0600), 0);
    const std::string command = "VKT5_LOCK_DIRS= runuser -u nobody -- " +
                                std::string(VKT5_PORT_PROBE) + " " + pty.slavePath() + " 2>&1";
    FILE* probe = ::popen(command.c_str(), "r");
    ASSERT_NE(probe, nullptr);
    std::string output;
    std::array<char, 256> buffer{};
    while (std::fgets(buffer.data(), buffer.size(), probe) != nullptr) {
        output += buffer.data();
    }
    ASSERT_EQ(::pclose(probe), 0) << output;
    EXPECT_EQ(output, pty.slavePath() + "\tno permission\nnote: " + pty.slavePath() +
                          ": no permission - join the dialout group and log in again\n");
}

}  // namespace
}  // namespace vkt5
