// The termios back-end under the port registry, against pseudo-terminals made by each test.
#include "serial/serial_port_posix.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>

#include "serial/port_registry.h"
#include "test_pty.h"

namespace vkt5 {
namespace {

using namespace std::chrono_literals;
using test::otherProgramCanOpen;
using test::TestPty;
namespace fs = std::filesystem;

class PosixPortTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/vkt5-serial-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { fs::remove_all(dir_); }

    // FIONREAD can read 0 just after the far end wrote: look until the count is there.
    QueuedBytes waitForQueued(PortHandle handle, std::int32_t count) {
        QueuedBytes queued = ports_.queuedBytes(handle);
        for (int i = 0; i < 2000 && queued.status == PortStatus::Ok && queued.count < count; ++i) {
            std::this_thread::sleep_for(1ms);
            queued = ports_.queuedBytes(handle);
        }
        return queued;
    }

    fs::path dir_;
    std::unique_ptr<SerialDeviceOpener> opener_ =
        makePosixSerialOpener({PosixPortMap(""), {}, nullptr});
    PortRegistry ports_{*opener_};
};

TEST_F(PosixPortTest, RefusesWhatIsNotASerialDevice) {
    std::ofstream(dir_ / "file") << "not a port";
    ASSERT_EQ(::mkfifo((dir_ / "fifo").c_str(), 0600), 0);
    const std::string names[] = {
        (dir_ / "missing").string(),
        "/dev/null",
        dir_.string(),
        (dir_ / "file").string(),
        (dir_ / "fifo").string(),
        "COM1",  // VKT5_PORTS is empty: no port has a device
    };
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        EXPECT_EQ(ports_.openPort(1, name), PortStatus::DeviceUnavailable);
        EXPECT_EQ(ports_.nextFreeHandle(), 1);
        EXPECT_EQ(ports_.queuedBytes(1).status, PortStatus::BadHandle);
    }
    std::ifstream kept(dir_ / "file");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "not a port");
}

TEST_F(PosixPortTest, BadNamesNeverReachADevice) {
    for (const char* name : {"", "COM?", "*", "COM1*", "?"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(ports_.openPort(1, name), PortStatus::BadPortName);
        EXPECT_EQ(ports_.nextFreeHandle(), 1);
    }
}

TEST_F(PosixPortTest, OnlyTheFirst255CharactersOfANameCount) {
    TestPty pty;
    // A link to the pty whose path is exactly 255 characters long.
    const std::string prefix = (dir_ / "").string();
    const std::string link = prefix + std::string(255 - prefix.size(), 'p');
    ASSERT_EQ(link.size(), 255u);
    fs::create_symlink(pty.slavePath(), link);

    EXPECT_EQ(ports_.openPort(1, link + "?*"), PortStatus::Ok);
    EXPECT_EQ(ports_.sendText(1, "k"), PortStatus::Ok);
    EXPECT_EQ(pty.receive(1, 1s), "k");
    EXPECT_EQ(ports_.openPort(2, link.substr(0, 254) + "?"), PortStatus::BadPortName);
}

TEST_F(PosixPortTest, PortNamesOpenTheDevicesOfTheMap) {
    TestPty pty;
    auto opener = makePosixSerialOpener({PosixPortMap("," + pty.slavePath()), {}, nullptr});
    PortRegistry ports(*opener);

    EXPECT_EQ(ports.openPort(1, "COM1"), PortStatus::DeviceUnavailable);
    EXPECT_EQ(ports.openPort(1, "COM3"), PortStatus::DeviceUnavailable);
    for (const char* name : {"COM2", "\\\\.\\COM2"}) {
        SCOPED_TRACE(name);
        ASSERT_EQ(ports.openPort(1, name), PortStatus::Ok);
        EXPECT_EQ(ports.sendText(1, name), PortStatus::Ok);
        EXPECT_EQ(pty.receive(std::string(name).size(), 1s), name);
        EXPECT_EQ(ports.closePort(1), PortStatus::Ok);
    }
}

TEST_F(PosixPortTest, OpenEntersRawModeAndKeepsTheSpeed) {
    TestPty pty;
    termios before{};
    ASSERT_EQ(::tcgetattr(pty.observer(), &before), 0);
    ::cfsetspeed(&before, B19200);
    before.c_lflag |= ICANON | ECHO;
    before.c_iflag |= ICRNL | IXON;
    ASSERT_EQ(::tcsetattr(pty.observer(), TCSANOW, &before), 0);

    ASSERT_EQ(ports_.openPort(1, pty.slavePath()), PortStatus::Ok);
    termios after{};
    ASSERT_EQ(::tcgetattr(pty.observer(), &after), 0);
    EXPECT_EQ(::cfgetospeed(&after), B19200);
    EXPECT_EQ(after.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(after.c_iflag & (ICRNL | IXON | ISTRIP), 0u);
    EXPECT_EQ(after.c_oflag & OPOST, 0u);

    // CR and XOFF pass untouched, and nothing is echoed back to the far end.
    pty.send("\r\x13\n");
    ASSERT_EQ(waitForQueued(1, 3).count, 3);
    EXPECT_EQ(ports_.receiveBytes(1, 3).text, "\r\x13\n");
    EXPECT_EQ(pty.receive(1, 50ms), "");
}

TEST_F(PosixPortTest, HandleInUseLeavesTheFirstPortOpenAndUsable) {
    TestPty first;
    TestPty second;
    ASSERT_EQ(ports_.openPort(1, first.slavePath()), PortStatus::Ok);
    EXPECT_EQ(ports_.openPort(1, second.slavePath()), PortStatus::HandleInUse);

    EXPECT_EQ(ports_.sendText(1, "still here"), PortStatus::Ok);
    EXPECT_EQ(first.receive(10, 1s), "still here");
    EXPECT_TRUE(otherProgramCanOpen(second.slavePath()));
}

TEST_F(PosixPortTest, UnboundAndNegativeHandles) {
    TestPty pty;
    ASSERT_EQ(ports_.openPort(1, pty.slavePath()), PortStatus::Ok);
    EXPECT_EQ(ports_.openPort(-1, pty.slavePath()), PortStatus::BadHandle);
    for (PortHandle h : {-1, 2}) {
        SCOPED_TRACE(h);
        EXPECT_EQ(ports_.setPortOption(h, PortOption::BaudRate, 57600), PortStatus::BadHandle);
        EXPECT_EQ(ports_.queuedBytes(h).status, PortStatus::BadHandle);
        EXPECT_EQ(ports_.receiveBytes(h, 1).status, PortStatus::BadHandle);
        EXPECT_EQ(ports_.sendText(h, "x"), PortStatus::BadHandle);
        EXPECT_EQ(ports_.closePort(h), PortStatus::Ok);
    }
    EXPECT_EQ(ports_.closePort(1), PortStatus::Ok);
    EXPECT_EQ(ports_.closePort(1), PortStatus::Ok);
    EXPECT_EQ(ports_.sendText(1, "x"), PortStatus::BadHandle);
    EXPECT_EQ(pty.receive(1, 50ms), "");
}

TEST_F(PosixPortTest, HeldPortIsExclusiveUntilClosed) {
    TestPty pty;
    ASSERT_TRUE(otherProgramCanOpen(pty.slavePath()));
    ASSERT_EQ(ports_.openPort(1, pty.slavePath()), PortStatus::Ok);

    EXPECT_FALSE(otherProgramCanOpen(pty.slavePath()));
    auto secondOpener = makePosixSerialOpener({PosixPortMap(""), {}, nullptr});
    EXPECT_EQ(secondOpener->open(pty.slavePath()).status, PortStatus::DeviceUnavailable);
    // The refused attempts did not loosen our hold.
    EXPECT_FALSE(otherProgramCanOpen(pty.slavePath()));

    EXPECT_EQ(ports_.closePort(1), PortStatus::Ok);
    EXPECT_TRUE(otherProgramCanOpen(pty.slavePath()));
    EXPECT_EQ(ports_.openPort(1, pty.slavePath()), PortStatus::Ok);
}

TEST_F(PosixPortTest, ReceivesExactlyTheQueuedBytesNulIncluded) {
    TestPty pty;
    ASSERT_EQ(ports_.openPort(1, pty.slavePath()), PortStatus::Ok);
    // Every byte value, three times over: more than the 512-byte read-ahead holds.
    std::string sent;
    for (int round = 0; round < 3; ++round) {
        for (int b = 0; b < 256; ++b) {
            sent += static_cast<char>(b);
        }
    }
    pty.send(sent);
    const QueuedBytes queued = waitForQueued(1, 768);
    ASSERT_EQ(queued.status, PortStatus::Ok);
    ASSERT_EQ(queued.count, 768);

    const ReceivedBytes got = ports_.receiveBytes(1, queued.count);
    EXPECT_EQ(got.status, PortStatus::Ok);
    EXPECT_EQ(got.text, sent);
    EXPECT_EQ(ports_.queuedBytes(1).count, 0);
}

TEST_F(PosixPortTest, BytesBeyondTheCountWaitForTheNextCall) {
    TestPty pty;
    ASSERT_EQ(ports_.openPort(1, pty.slavePath()), PortStatus::Ok);
    pty.send(std::string("VK\0T5\r\n", 7));
    ASSERT_EQ(waitForQueued(1, 7).count, 7);

    EXPECT_EQ(ports_.receiveBytes(1, 3).text, std::string("VK\0", 3));
    EXPECT_EQ(ports_.queuedBytes(1).count, 4);
    pty.send("*");
    ASSERT_EQ(waitForQueued(1, 5).count, 5);
    EXPECT_EQ(ports_.receiveBytes(1, 5).text, "T5\r\n*");
    EXPECT_EQ(ports_.receiveBytes(1, 0).status, PortStatus::InvalidArgument);
}

TEST_F(PosixPortTest, SendsExactlyTheBytesGiven) {
    TestPty pty;
    ASSERT_EQ(ports_.openPort(1, pty.slavePath()), PortStatus::Ok);

    EXPECT_EQ(ports_.sendText(1, ""), PortStatus::Ok);
    EXPECT_EQ(ports_.sendText(1, "Y"), PortStatus::Ok);
    EXPECT_EQ(pty.receive(2, 100ms), "Y");

    // The longest image line with its line end, and NUL bytes, go out whole and untranslated.
    std::string line = ":" + std::string(138, 'F') + "\r\n";
    line[5] = '\0';
    ASSERT_EQ(line.size(), 141u);
    EXPECT_EQ(ports_.sendText(1, line), PortStatus::Ok);
    EXPECT_EQ(pty.receive(142, 200ms), line);
}

TEST_F(PosixPortTest, SendWaitsForRoomWhenTheLineIsBusy) {
    TestPty pty;
    ASSERT_EQ(ports_.openPort(1, pty.slavePath()), PortStatus::Ok);
    std::string big(200000, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) {
        big[i] = static_cast<char>(i * 7 % 251);
    }
    std::string arrived;
    std::thread farEnd([&] { arrived = pty.receive(big.size(), 10s); });
    EXPECT_EQ(ports_.sendText(1, big), PortStatus::Ok);
    farEnd.join();
    EXPECT_TRUE(arrived == big) << arrived.size() << " of " << big.size() << " bytes arrived";
}

TEST_F(PosixPortTest, LineConfigurationOfTheUnit) {
    TestPty pty;
    const int slave = pty.observer();
    ASSERT_EQ(ports_.openPort(1, pty.slavePath()), PortStatus::Ok);
    // What another program may have left: 9600, parity checked, two stop bits. (A pty holds
    // on to 8 bits without parity by itself.)
    termios left{};
    ASSERT_EQ(::tcgetattr(slave, &left), 0);
    left.c_cflag |= CSTOPB;
    left.c_iflag |= INPCK;
    ::cfsetspeed(&left, B9600);
    ASSERT_EQ(::tcsetattr(slave, TCSANOW, &left), 0);
    ASSERT_EQ(::tcgetattr(slave, &left), 0);
    ASSERT_EQ(left.c_cflag & CSTOPB, static_cast<tcflag_t>(CSTOPB));
    ASSERT_EQ(left.c_iflag & INPCK, static_cast<tcflag_t>(INPCK));

    const std::pair<PortOption, std::int32_t> configuration[] = {
        {PortOption::BaudRate, 57600},    {PortOption::DataBits, 8},
        {PortOption::ParityCheck, 0},     {PortOption::StopBits, 0},
        {PortOption::ReceiveQueue, 4096}, {PortOption::TransmitQueue, 4096},
        {PortOption::DtrHandshake, 1},    {PortOption::DtrLine, 1},
    };
    for (const auto& [option, value] : configuration) {
        EXPECT_EQ(ports_.setPortOption(1, option, value), PortStatus::Ok)
            << static_cast<int>(option);
    }

    termios t{};
    ASSERT_EQ(::tcgetattr(slave, &t), 0);
    EXPECT_EQ(::cfgetospeed(&t), B57600);
    EXPECT_EQ(::cfgetispeed(&t), B57600);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB), 0u);
    EXPECT_EQ(t.c_iflag & INPCK, 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
}

TEST_F(PosixPortTest, EachOptionChangesOnlyWhatItCovers) {
    TestPty pty;
    const int slave = pty.observer();
    ASSERT_EQ(ports_.openPort(1, pty.slavePath()), PortStatus::Ok);
    const auto termiosNow = [&] {
        termios t{};
        ::tcgetattr(slave, &t);
        return t;
    };

    struct Step {
        PortOption option;
        std::int32_t value;
        PortStatus status;
        std::function<bool(const termios&)> holds;
    };
    const Step steps[] = {
        {PortOption::BaudRate, 115200, PortStatus::Ok,
         [](const termios& t) { return ::cfgetospeed(&t) == B115200; }},
        {PortOption::BaudRate, 12345, PortStatus::InvalidArgument,
         [](const termios& t) { return ::cfgetospeed(&t) == B115200; }},
        {PortOption::BaudRate, -57600, PortStatus::InvalidArgument,
         [](const termios& t) { return ::cfgetospeed(&t) == B115200; }},
        {PortOption::StopBits, 2, PortStatus::Ok,
         [](const termios& t) { return (t.c_cflag & CSTOPB) != 0; }},
        {PortOption::StopBits, 0, PortStatus::Ok,
         [](const termios& t) { return (t.c_cflag & CSTOPB) == 0; }},
        {PortOption::StopBits, 1, PortStatus::Ok,  // one and a half: two on termios
         [](const termios& t) { return (t.c_cflag & CSTOPB) != 0; }},
        {PortOption::StopBits, 3, PortStatus::InvalidArgument,
         [](const termios& t) { return (t.c_cflag & CSTOPB) != 0; }},
        {PortOption::ParityCheck, 5, PortStatus::Ok,
         [](const termios& t) { return (t.c_iflag & INPCK) != 0; }},
        // A pty keeps 8 bits without parity whatever it is told: a setting the device does not
        // take is refused, and what was set stays.
        {PortOption::DataBits, 7, PortStatus::InvalidArgument,
         [](const termios& t) {
             return (t.c_cflag & CSIZE) == CS8 && (t.c_cflag & CSTOPB) != 0 &&
                    (t.c_iflag & INPCK) != 0 && ::cfgetospeed(&t) == B115200;
         }},
        {PortOption::DataBits, 9, PortStatus::InvalidArgument,
         [](const termios& t) { return (t.c_cflag & CSTOPB) != 0; }},
        {PortOption::DataBits, 8, PortStatus::Ok,
         [](const termios& t) {
             return (t.c_cflag & CSIZE) == CS8 && (t.c_cflag & (CSTOPB | PARENB)) == 0 &&
                    (t.c_iflag & INPCK) == 0 && ::cfgetospeed(&t) == B115200;
         }},
        {PortOption::ReceiveQueue, -1, PortStatus::InvalidArgument,
         [](const termios&) { return true; }},
        {PortOption::DtrLine, 0, PortStatus::Ok, [](const termios&) { return true; }},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(testing::Message()
                     << "option " << static_cast<int>(step.option) << " value " << step.value);
        EXPECT_EQ(ports_.setPortOption(1, step.option, step.value), step.status);
        EXPECT_TRUE(step.holds(termiosNow()));
    }
}

TEST_F(PosixPortTest, FarEndHangingUp) {
    TestPty pty;
    ASSERT_EQ(ports_.openPort(1, pty.slavePath()), PortStatus::Ok);
    pty.closeMaster();

    const QueuedBytes queued = ports_.queuedBytes(1);
    EXPECT_EQ(queued.count, 0);
    EXPECT_NE(queued.status, PortStatus::Ok);
    EXPECT_NE(ports_.receiveBytes(1, 1).status, PortStatus::Ok);  // returns, does not wait
    EXPECT_EQ(ports_.sendText(1, "Y"), PortStatus::IncompleteTransfer);
    EXPECT_NE(ports_.setPortOption(1, PortOption::BaudRate, 57600), PortStatus::Ok);
    EXPECT_EQ(ports_.closePort(1), PortStatus::Ok);
    EXPECT_EQ(ports_.nextFreeHandle(), 1);
}

}  // namespace
}  // namespace vkt5
