// The Win32 serial back-end on a real communications device: under Wine, a pair of connected
// pseudo-terminals mapped as two COM ports (tests/windows/serial_ports.sh sets them up and names
// them in VKT5_TEST_PORT and VKT5_TEST_PEER; VKT5_TEST_ABSENT names a port with no device). The
// port under test goes through the program's PortRegistry; the peer is opened with plain
// CreateFileW and plays the unit.
//
// Under Wine a hidden port of the prefix (COM1 to COM49 unless mapped) opens as a device with no
// line behind it, so the absent port is one beyond the prefix's port table.
//
// What Wine cannot show: ports are not exclusive there, and DTR cannot be set on a pty (its
// SetCommState then fails with error 50), so the DTR options and a second program's open of a
// held port are for a test on real Windows.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "serial/port_registry.h"
#include "serial/serial_port_win32.h"

namespace vkt5 {
namespace {

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

class PeerPort {
  public:
    explicit PeerPort(const std::string& name) {
        const std::wstring wide(name.begin(), name.end());
        handle_ = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    ~PeerPort() {
        if (open()) {
            CloseHandle(handle_);
        }
    }
    PeerPort(const PeerPort&) = delete;
    PeerPort& operator=(const PeerPort&) = delete;

    bool open() const { return handle_ != INVALID_HANDLE_VALUE; }
    HANDLE handle() const { return handle_; }

    bool write(const std::string& bytes) {
        DWORD put = 0;
        return WriteFile(handle_, bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr) &&
               put == bytes.size();
    }

    // Everything that arrives within the time, read only as far as it is queued.
    std::string readFor(DWORD milliseconds, std::size_t expected) {
        std::string got;
        const ULONGLONG end = GetTickCount64() + milliseconds;
        while (got.size() < expected && GetTickCount64() < end) {
            DWORD errors = 0;
            COMSTAT status{};
            if (!ClearCommError(handle_, &errors, &status)) {
                break;
            }
            if (status.cbInQue == 0) {
                Sleep(5);
                continue;
            }
            std::string chunk(status.cbInQue, '\0');
            DWORD read = 0;
            if (!ReadFile(handle_, chunk.data(), status.cbInQue, &read, nullptr)) {
                break;
            }
            got.append(chunk, 0, read);
        }
        return got;
    }

  private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};

class Win32SerialPortTest : public ::testing::Test {
  protected:
    void SetUp() override {
        port_ = environment("VKT5_TEST_PORT");
        peer_ = environment("VKT5_TEST_PEER");
        absent_ = environment("VKT5_TEST_ABSENT");
        if (port_.empty() || peer_.empty() || absent_.empty()) {
            GTEST_SKIP() << "run through serial_ports.sh, which maps the ports";
        }
    }

    // Waits until the registry reports at least the count, or the time is up.
    std::int32_t waitQueued(PortHandle handle, std::int32_t atLeast) {
        QueuedBytes queued{};
        const ULONGLONG end = GetTickCount64() + 2000;
        do {
            queued = ports_.queuedBytes(handle);
            if (queued.status == PortStatus::Ok && queued.count >= atLeast) {
                break;
            }
            Sleep(5);
        } while (GetTickCount64() < end);
        return queued.count;
    }

    std::string port_;
    std::string peer_;
    std::string absent_;
    std::unique_ptr<SerialDeviceOpener> opener_ = makeWin32SerialOpener();
    PortRegistry ports_{*opener_};
};

TEST_F(Win32SerialPortTest, OpensUnderBothNameFormsAndClosesAgain) {
    for (const std::string& name : {port_, "\\\\.\\" + port_}) {
        SCOPED_TRACE(name);
        const PortHandle handle = ports_.nextFreeHandle();
        ASSERT_EQ(ports_.openPort(handle, name), PortStatus::Ok);
        EXPECT_EQ(ports_.queuedBytes(handle).status, PortStatus::Ok);
        EXPECT_EQ(ports_.closePort(handle), PortStatus::Ok);
        EXPECT_EQ(ports_.queuedBytes(handle).status, PortStatus::BadHandle);
    }
}

TEST_F(Win32SerialPortTest, NamesThatDenoteNoPort) {
    struct Case {
        std::string name;
        PortStatus expected;
    };
    const std::vector<Case> cases = {
        {absent_, PortStatus::DeviceUnavailable},
        {"\\\\.\\" + absent_, PortStatus::DeviceUnavailable},
        {"COM?", PortStatus::BadPortName},
        {"COM*", PortStatus::BadPortName},
        {"", PortStatus::BadPortName},
        // An ordinary file opens like a device but is refused as one.
        {"C:\\windows\\win.ini", PortStatus::DeviceUnavailable},
        // A NUL would cut the name short and open the port before it.
        {port_ + std::string(1, '\0') + "9", PortStatus::DeviceUnavailable},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const PortHandle handle = ports_.nextFreeHandle();
        EXPECT_EQ(ports_.openPort(handle, c.name), c.expected);
        EXPECT_EQ(ports_.nextFreeHandle(), handle) << "the handle stays free";
    }
}

TEST_F(Win32SerialPortTest, DeviceCallsKeepSystemBoxesAwayAndRestoreTheErrorMode) {
    const DWORD mine = SEM_NOGPFAULTERRORBOX;
    DWORD before = 0;
    ASSERT_TRUE(SetThreadErrorMode(mine, &before));
    const PortHandle handle = ports_.nextFreeHandle();
    EXPECT_EQ(ports_.openPort(handle, absent_), PortStatus::DeviceUnavailable);
    ASSERT_EQ(ports_.openPort(handle, port_), PortStatus::Ok);
    ports_.queuedBytes(handle);
    ports_.closePort(handle);
    EXPECT_EQ(GetThreadErrorMode(), mine);
    SetThreadErrorMode(before, nullptr);
}

// The line as the device has it now, read through a handle of its own: the settings belong to
// the device and outlast the close.
DCB lineOf(const std::string& name) {
    PeerPort raw(name);
    DCB dcb{};
    dcb.DCBlength = sizeof(dcb);
    EXPECT_TRUE(raw.open());
    EXPECT_TRUE(GetCommState(raw.handle(), &dcb));
    return dcb;
}

// A Linux pty keeps 8 data bits and no parity whatever it is told, so on one only the speed and
// the stop bits show what the options did.
TEST_F(Win32SerialPortTest, TheProgramsConfigurationReachesTheLine) {
    {
        PeerPort raw(port_);
        ASSERT_TRUE(raw.open());
        DCB dcb{};
        dcb.DCBlength = sizeof(dcb);
        ASSERT_TRUE(GetCommState(raw.handle(), &dcb));
        dcb.BaudRate = 9600;
        dcb.StopBits = TWOSTOPBITS;
        ASSERT_TRUE(SetCommState(raw.handle(), &dcb));
    }
    ASSERT_EQ(lineOf(port_).StopBits, TWOSTOPBITS);

    // Eight data bits also mean one stop bit; nothing else changes.
    PortHandle handle = ports_.nextFreeHandle();
    ASSERT_EQ(ports_.openPort(handle, port_), PortStatus::Ok);
    EXPECT_EQ(ports_.setPortOption(handle, PortOption::DataBits, 8), PortStatus::Ok);
    ports_.closePort(handle);
    DCB line = lineOf(port_);
    EXPECT_EQ(line.StopBits, ONESTOPBIT);
    EXPECT_EQ(line.BaudRate, 9600u);

    handle = ports_.nextFreeHandle();
    ASSERT_EQ(ports_.openPort(handle, port_), PortStatus::Ok);
    struct Step {
        PortOption option;
        std::int32_t value;
    };
    const Step configuration[] = {
        {PortOption::BaudRate, 57600},     {PortOption::DataBits, 8},
        {PortOption::ParityCheck, 0},      {PortOption::StopBits, 2},
        {PortOption::StopBits, 0},         {PortOption::ReceiveQueue, 4096},
        {PortOption::TransmitQueue, 4096}, {PortOption::DtrHandshake, 1},
        {PortOption::DtrLine, 1},
    };
    for (const Step& step : configuration) {
        EXPECT_EQ(ports_.setPortOption(handle, step.option, step.value), PortStatus::Ok)
            << static_cast<int>(step.option) << " " << step.value;
    }
    // Values the device cannot take are refused, not passed on.
    EXPECT_EQ(ports_.setPortOption(handle, PortOption::StopBits, 3), PortStatus::InvalidArgument);
    EXPECT_EQ(ports_.setPortOption(handle, PortOption::BaudRate, -1), PortStatus::InvalidArgument);
    EXPECT_EQ(ports_.setPortOption(handle, PortOption::ReceiveQueue, -1),
              PortStatus::InvalidArgument);
    ports_.closePort(handle);

    line = lineOf(port_);
    EXPECT_EQ(line.BaudRate, 57600u);
    EXPECT_EQ(line.ByteSize, 8);
    EXPECT_EQ(line.Parity, NOPARITY);
    EXPECT_EQ(line.StopBits, ONESTOPBIT);
}

TEST_F(Win32SerialPortTest, ReceivesExactlyTheQueuedBytesNulIncluded) {
    PeerPort unit(peer_);
    ASSERT_TRUE(unit.open());
    const PortHandle handle = ports_.nextFreeHandle();
    ASSERT_EQ(ports_.openPort(handle, port_), PortStatus::Ok);

    const std::string sent = std::string("VKT5\r\n\0\x01\x7F\xFF*", 11) + std::string(700, 'A');
    ASSERT_TRUE(unit.write(sent));
    std::string received;
    while (received.size() < sent.size()) {
        const std::int32_t count = waitQueued(handle, 1);
        if (count < 1) {
            break;
        }
        ReceivedBytes got = ports_.receiveBytes(handle, count);
        ASSERT_EQ(got.status, PortStatus::Ok);
        ASSERT_EQ(got.text.size(), static_cast<std::size_t>(count));
        received += got.text;
    }
    EXPECT_EQ(received, sent);
    EXPECT_EQ(ports_.queuedBytes(handle).count, 0);
    ports_.closePort(handle);
}

TEST_F(Win32SerialPortTest, SendsExactlyTheBytesGiven) {
    PeerPort unit(peer_);
    ASSERT_TRUE(unit.open());
    const PortHandle handle = ports_.nextFreeHandle();
    ASSERT_EQ(ports_.openPort(handle, port_), PortStatus::Ok);

    std::string line = ":10" + std::string(134, 'F') + "\r\n";
    line.resize(141, '0');
    EXPECT_EQ(ports_.sendText(handle, ""), PortStatus::Ok);
    EXPECT_EQ(ports_.sendText(handle, "Y"), PortStatus::Ok);
    EXPECT_EQ(ports_.sendText(handle, std::string("\0\r\n", 3)), PortStatus::Ok);
    EXPECT_EQ(ports_.sendText(handle, line), PortStatus::Ok);
    const std::string expected = "Y" + std::string("\0\r\n", 3) + line;
    EXPECT_EQ(unit.readFor(2000, expected.size()), expected);
    EXPECT_EQ(unit.readFor(100, 1), "") << "nothing added";
    ports_.closePort(handle);
}

// The unit unplugged while its port is open: the far side of the line closes. Under Wine the
// device calls then fail with "not ready"; the program must see a lost device (never Ok, never a
// mere line error) within a tick or two, and a send must not pass for delivered.
TEST_F(Win32SerialPortTest, ALineWhoseFarSideClosedIsReportedGone) {
    const std::string line = environment("VKT5_TEST_HANGUP_PORT");
    const std::string request = environment("VKT5_TEST_HANGUP_REQUEST");
    if (line.empty() || request.empty()) {
        GTEST_SKIP() << "run through serial_ports.sh, which provides a line to unplug";
    }
    const PortHandle handle = ports_.nextFreeHandle();
    ASSERT_EQ(ports_.openPort(handle, line), PortStatus::Ok);
    ASSERT_EQ(ports_.queuedBytes(handle).status, PortStatus::Ok);
    ASSERT_EQ(ports_.sendText(handle, "Y"), PortStatus::Ok);

    HANDLE signal = CreateFileA(request.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(signal, INVALID_HANDLE_VALUE) << "cannot ask for the hang-up: " << GetLastError();
    CloseHandle(signal);

    QueuedBytes queued{};
    const ULONGLONG end = GetTickCount64() + 5000;
    do {
        queued = ports_.queuedBytes(handle);
        if (queued.status != PortStatus::Ok) {
            break;
        }
        Sleep(10);
    } while (GetTickCount64() < end);
    EXPECT_EQ(queued.status, PortStatus::DeviceUnavailable);
    EXPECT_EQ(ports_.queuedBytes(handle).status, PortStatus::DeviceUnavailable) << "it stays gone";
    EXPECT_EQ(ports_.sendText(handle, "Y"), PortStatus::IncompleteTransfer);
}

// The wait handle is an event set by received characters: not set while nothing came, set when the
// unit speaks, set at once when bytes were already queued before it was asked for, and cleared
// again once they are read and it is asked for anew; the bytes reach the caller once each and in
// order. A byte wakes the waiter within milliseconds, not on a polling interval.
TEST_F(Win32SerialPortTest, WaitHandleIsSetByReceivedCharacters) {
    PeerPort unit(peer_);
    ASSERT_TRUE(unit.open());
    const PortHandle handle = ports_.nextFreeHandle();
    ASSERT_EQ(ports_.openPort(handle, port_), PortStatus::Ok);
    const auto event = reinterpret_cast<HANDLE>(ports_.waitHandle(handle));
    ASSERT_NE(reinterpret_cast<std::intptr_t>(event), SerialPortService::NO_WAIT_HANDLE);
    EXPECT_EQ(WaitForSingleObject(event, 100), WAIT_TIMEOUT);
    EXPECT_EQ(ports_.waitHandle(handle), reinterpret_cast<std::intptr_t>(event));
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);

    const auto takeAll = [&] {
        std::string got;
        const std::int32_t count = waitQueued(handle, 1);
        if (count > 0) {
            got = ports_.receiveBytes(handle, count).text;
        }
        return got;
    };
    std::vector<double> wakeMs;
    for (int i = 0; i < 20; ++i) {
        ASSERT_EQ(WaitForSingleObject(reinterpret_cast<HANDLE>(ports_.waitHandle(handle)), 0),
                  WAIT_TIMEOUT);
        LARGE_INTEGER frequency{}, from{}, to{};
        QueryPerformanceFrequency(&frequency);
        QueryPerformanceCounter(&from);
        ASSERT_TRUE(unit.write("*"));
        ASSERT_EQ(WaitForSingleObject(event, 2000), WAIT_OBJECT_0) << "round " << i;
        QueryPerformanceCounter(&to);
        wakeMs.push_back(1000.0 * static_cast<double>(to.QuadPart - from.QuadPart) /
                         static_cast<double>(frequency.QuadPart));
        EXPECT_EQ(takeAll(), "*");
    }
    std::sort(wakeMs.begin(), wakeMs.end());
    std::printf("wake after a received byte: median %.2f ms, worst %.2f ms\n", wakeMs[10],
                wakeMs.back());
    EXPECT_LT(wakeMs[10], 20.0);

    // A line that comes while the wait is pending reaches the caller whole and in order.
    ASSERT_EQ(WaitForSingleObject(reinterpret_cast<HANDLE>(ports_.waitHandle(handle)), 0),
              WAIT_TIMEOUT);
    ASSERT_TRUE(unit.write("E or P?\r\n"));
    ASSERT_EQ(WaitForSingleObject(event, 2000), WAIT_OBJECT_0);
    ASSERT_GE(waitQueued(handle, 9), 9);
    EXPECT_EQ(takeAll(), "E or P?\r\n");

    // Bytes that came while nobody waited: the handle asked for afterwards is set without another
    // byte arriving. Its read may still be in flight when the call returns (Wine completes it on
    // its own thread, later on a loaded machine), so the wait allows it a moment.
    ASSERT_TRUE(unit.write("Erased\r\n"));
    ASSERT_GE(waitQueued(handle, 8), 8);
    EXPECT_EQ(WaitForSingleObject(reinterpret_cast<HANDLE>(ports_.waitHandle(handle)), 1000),
              WAIT_OBJECT_0);
    EXPECT_EQ(ports_.queuedBytes(handle).count, 8);
    EXPECT_EQ(takeAll(), "Erased\r\n");
    EXPECT_EQ(WaitForSingleObject(reinterpret_cast<HANDLE>(ports_.waitHandle(handle)), 50),
              WAIT_TIMEOUT);
    // Closing with the wait pending ends it cleanly.
    EXPECT_EQ(ports_.closePort(handle), PortStatus::Ok);
}

}  // namespace
}  // namespace vkt5
