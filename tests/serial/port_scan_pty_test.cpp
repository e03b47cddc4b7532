// The port scan on the real termios back-end, tick by tick at the program's 15 ms pace, over a
// port map of ptys, a missing device and /dev/null, with a unit on the fourth port.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <termios.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "serial/port_registry.h"
#include "serial/port_scan.h"
#include "serial/posix_lock_file.h"
#include "serial/serial_port_posix.h"
#include "test_pty.h"

namespace vkt5 {
namespace {

using namespace std::chrono_literals;
using test::otherProgramCanOpen;
using test::RepeatingUnit;
using test::TestPty;

struct TickRecord {
    std::int32_t portNumber;
    std::int32_t portOpen;
    std::int32_t unitFound;
    double milliseconds;
};

TEST(PortScanOnPtys, FindsTheUnitOnTheFourthPort) {
    TestPty silent;
    TestPty unitLine;
    const int unitSlave = unitLine.observer();
    RepeatingUnit unit(unitLine);

    const std::string ports =
        silent.slavePath() + ",/nonexistent/vkt5-port,/dev/null," + unitLine.slavePath();
    ASSERT_EQ(::setenv(PORTS_ENVIRONMENT_VARIABLE, ports.c_str(), 1), 0);
    ASSERT_EQ(::setenv(LOCK_DIRS_ENVIRONMENT_VARIABLE, "", 1), 0);
    auto opener = makePosixSerialOpener();
    ::unsetenv(PORTS_ENVIRONMENT_VARIABLE);
    ::unsetenv(LOCK_DIRS_ENVIRONMENT_VARIABLE);
    PortRegistry registry(*opener);

    UpgradeState state;
    state.identification = "VKT5\r\n";
    std::vector<TickRecord> ticks(1);  // ticks[n] is tick n; tick 0 is the state before
    while (state.unitFound == 0 && ticks.size() <= 200) {
        const auto start = std::chrono::steady_clock::now();
        scanTick(state, registry);
        const std::chrono::duration<double, std::milli> took =
            std::chrono::steady_clock::now() - start;
        ticks.push_back({state.portNumber, state.portOpen, state.unitFound, took.count()});
        std::this_thread::sleep_for(15ms);
    }
    ASSERT_EQ(state.unitFound, 1);

    const auto at = [&](std::size_t tick) {
        const TickRecord& r = ticks.at(tick);
        return std::tuple(r.portNumber, r.portOpen, r.unitFound);
    };
    EXPECT_EQ(at(1), std::tuple(1, 1, 0));   // the silent pty opens
    EXPECT_EQ(at(36), std::tuple(1, 1, 0));  // still counting down
    EXPECT_EQ(at(37), std::tuple(1, 0, 0));  // checked, nothing there: closed
    EXPECT_EQ(at(38), std::tuple(2, 0, 0));  // no device
    EXPECT_EQ(at(39), std::tuple(3, 0, 0));  // /dev/null is no serial device
    EXPECT_EQ(at(40), std::tuple(4, 1, 0));  // the unit's line opens
    EXPECT_EQ(at(75), std::tuple(4, 1, 0));
    EXPECT_EQ(ticks.size() - 1, 76u);  // and is found on its check, 36 ticks later
    EXPECT_EQ(state.portOpen, 1);
    EXPECT_NE(state.scratch.find("VKT5\r\n"), std::string::npos);

    std::cout << "open ticks took " << ticks[1].milliseconds << " ms (silent pty), "
              << ticks[38].milliseconds << " ms (missing), " << ticks[39].milliseconds
              << " ms (/dev/null), " << ticks[40].milliseconds << " ms (unit); the check took "
              << ticks[76].milliseconds << " ms\n";

    // The unit's port stays held, configured for the unit; the silent one was let go.
    termios t{};
    ASSERT_EQ(::tcgetattr(unitSlave, &t), 0);
    EXPECT_EQ(::cfgetospeed(&t), B57600);
    EXPECT_EQ(::cfgetispeed(&t), B57600);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB), 0u);
    EXPECT_EQ(t.c_iflag & (INPCK | ICRNL | IXON), 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_FALSE(otherProgramCanOpen(unitLine.slavePath()));
    EXPECT_TRUE(otherProgramCanOpen(silent.slavePath()));

    // What the unit sent meanwhile is still waiting, and the drain takes all of it.
    std::this_thread::sleep_for(60ms);
    drainInput(state, registry);
    EXPECT_GT(state.bytesWaiting, 0);
    EXPECT_EQ(registry.queuedBytes(state.portFile).count, 0);
}

}  // namespace
}  // namespace vkt5
