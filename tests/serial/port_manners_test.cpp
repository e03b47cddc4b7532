// How the termios back-end leaves a device it only looked at: the line settings and the modem
// lines it found come back on close, unless the port is the unit's; DTR is held on by the
// unit's configuration (shown through the modem-line seam, since a pty has no modem lines); and
// the lock file is taken where a folder allows it and given back.
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "serial/port_registry.h"
#include "serial/port_scan.h"
#include "serial/posix_lock_file.h"
#include "test_pty.h"

namespace vkt5 {
namespace {

using test::TestPty;
namespace fs = std::filesystem;

// One device's modem lines, as a UART would keep them.
class FakeModemLines final : public ModemLineControl {
  public:
    explicit FakeModemLines(int found) : bits(found) {}
    int get(int /*fd*/, int& out) override {
        out = bits;
        return 0;
    }
    int set(int /*fd*/, int in) override {
        bits = in;
        ++sets;
        return 0;
    }
    int raise(int /*fd*/, int in) override {
        bits |= in;
        return 0;
    }
    int lower(int /*fd*/, int in) override {
        bits &= ~in;
        return 0;
    }
    int bits;
    int sets = 0;
};

struct Manners : ::testing::Test {
    std::shared_ptr<FakeModemLines> lines = std::make_shared<FakeModemLines>(TIOCM_RTS);
    std::unique_ptr<SerialDeviceOpener> opener =
        makePosixSerialOpener({PosixPortMap(""), {}, lines});
    PortRegistry ports{*opener};
};

TEST_F(Manners, DtrIsHeldOnAfterTheConfigurationAndTheFoundLinesComeBack) {
    for (const bool unit : {false, true}) {
        SCOPED_TRACE(unit ? "the unit's port" : "another port");
        TestPty pty;
        lines->bits = TIOCM_RTS;  // DTR off, RTS on, as another program left them
        ASSERT_EQ(ports.openPort(1, pty.slavePath()), PortStatus::Ok);
        applyLineConfiguration(ports, 1);
        EXPECT_EQ(lines->bits, TIOCM_DTR | TIOCM_RTS);
        if (unit) {
            ports.keepSettingsOnClose(1);
        }
        ports.closePort(1);
        EXPECT_EQ(lines->bits, unit ? TIOCM_DTR | TIOCM_RTS : TIOCM_RTS);
    }
}

TEST_F(Manners, LineSettingsFoundAtOpenComeBackUnlessTheyAreTheUnits) {
    for (const bool unit : {false, true}) {
        SCOPED_TRACE(unit ? "the unit's port" : "another port");
        TestPty pty;
        const int outsider = pty.observer();
        // What a terminal program may have set: 9600 7E2, cooked, echo off, XON/XOFF.
        termios left{};
        ASSERT_EQ(::tcgetattr(outsider, &left), 0);
        ::cfsetspeed(&left, B9600);
        left.c_cflag = (left.c_cflag & ~CSIZE) | CS7 | PARENB | CSTOPB;
        left.c_iflag |= IXON | INPCK;
        left.c_lflag &= ~ECHO;
        ASSERT_EQ(::tcsetattr(outsider, TCSANOW, &left), 0);
        ASSERT_EQ(::tcgetattr(outsider, &left), 0);

        ASSERT_EQ(ports.openPort(1, pty.slavePath()), PortStatus::Ok);
        applyLineConfiguration(ports, 1);
        if (unit) {
            ports.keepSettingsOnClose(1);
        }
        ports.closePort(1);

        termios after{};
        ASSERT_EQ(::tcgetattr(outsider, &after), 0);
        const bool same = after.c_iflag == left.c_iflag && after.c_oflag == left.c_oflag &&
                          after.c_cflag == left.c_cflag && after.c_lflag == left.c_lflag &&
                          ::cfgetospeed(&after) == B9600;
        EXPECT_EQ(same, !unit);
        if (unit) {
            EXPECT_EQ(::cfgetospeed(&after), B57600);
            EXPECT_EQ(after.c_lflag & ICANON, 0u);
        }
    }
}

TEST(LockFiles, TheHolderInEitherForm) {
    const std::int32_t binary = 4321;
    const struct {
        std::string content;
        std::optional<pid_t> pid;
    } cases[] = {
        {"      1234\n", 1234},
        {"1234", 1234},
        {"  77", 77},
        {std::string(reinterpret_cast<const char*>(&binary), 4), 4321},
        {"", std::nullopt},
        {"         0\n", std::nullopt},
        {"12ab\n", std::nullopt},
        {"1234567890123\n", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(lockHolder(c.content), c.pid) << c.content;
    }
    EXPECT_EQ(lockFileName("/dev/ttyUSB0"), "LCK..ttyUSB0");
    EXPECT_EQ(lockFileName("/dev/pts/3"), "LCK..pts_3");
    EXPECT_EQ(lockFileName("/tmp/x/port"), "LCK..port");
    EXPECT_EQ(lockDirectories(std::nullopt), (std::vector<std::string>{"/run/lock", "/var/lock"}));
    EXPECT_EQ(lockDirectories("/a::/b"), (std::vector<std::string>{"/a", "/b"}));
    EXPECT_TRUE(lockDirectories("").empty());
}

TEST(LockFiles, TakenInTheFirstFolderThatAllowsItAndGivenBack) {
    char pattern[] = "/tmp/vkt5-locks-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const fs::path folder = pattern;
    TestPty pty;
    const std::string name = lockFileName(lockedPathOf(pty.slavePath()));
    {
        auto opener = makePosixSerialOpener(
            {PosixPortMap(""), {(folder / "missing").string(), folder.string()}, nullptr});
        PortRegistry ports(*opener);
        ASSERT_EQ(ports.openPort(1, pty.slavePath()), PortStatus::Ok);
        std::ifstream in(folder / name);
        std::string content((std::istreambuf_iterator<char>(in)), {});
        char expected[16];
        std::snprintf(expected, sizeof expected, "%10d\n", static_cast<int>(::getpid()));
        EXPECT_EQ(content, expected);
        struct stat info {};
        ASSERT_EQ(::stat((folder / name).c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0644u);
        // A second open in the same process is refused like any other.
        EXPECT_NE(ports.openPort(2, pty.slavePath()), PortStatus::Ok);
        EXPECT_EQ(ports.lastOpenDetail().state, PortState::InUse);
        ports.closePort(1);
        EXPECT_FALSE(fs::exists(folder / name));
    }
    // No folder to write to: the device is used without a lock file.
    {
        auto opener = makePosixSerialOpener({PosixPortMap(""), {"/proc"}, nullptr});
        PortRegistry ports(*opener);
        EXPECT_EQ(ports.openPort(1, pty.slavePath()), PortStatus::Ok);
    }
    fs::remove_all(folder);
}

}  // namespace
}  // namespace vkt5
