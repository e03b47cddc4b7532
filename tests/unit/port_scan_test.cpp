// The port scan with the scripted port: which port is opened, checked and closed on which tick,
// and where the unit is found.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "app/upgrade_state.h"
#include "fakes/scripted_port.h"
#include "serial/port_scan.h"

namespace vkt5 {
namespace {

using test::PortCall;
using test::PortOp;
using test::ScriptedPort;
using namespace std::string_literals;

struct Scan {
    ScriptedPort ports;
    UpgradeState state;
    std::int64_t tick = 0;

    Scan() { state.identification = "VKT5\r\n"; }

    // Runs scan ticks (tick numbers start at 1) until the unit is found or maxTicks have run.
    void run(std::int64_t maxTicks) {
        while (tick < maxTicks && state.unitFound == 0) {
            ports.setTick(++tick);
            scanTick(state, ports);
        }
    }

    // (tick, port name, status) of every open attempt.
    std::vector<std::tuple<std::int64_t, std::string, PortStatus>> opens() const {
        std::vector<std::tuple<std::int64_t, std::string, PortStatus>> out;
        for (const PortCall& c : ports.callsOf(PortOp::Open)) {
            out.emplace_back(c.tick, c.name, c.status);
        }
        return out;
    }
    std::vector<std::int64_t> ticksOf(PortOp op) const {
        std::vector<std::int64_t> out;
        for (const PortCall& c : ports.callsOf(op)) {
            out.push_back(c.tick);
        }
        return out;
    }
};

TEST(PortScan, PortNames) {
    EXPECT_EQ(portName(1), "COM1");
    EXPECT_EQ(portName(9), "COM9");
    EXPECT_EQ(portName(10), "\\\\.\\COM10");
    EXPECT_EQ(portName(49), "\\\\.\\COM49");
}

TEST(PortScan, AbsentPortsCostOneTickEachAndTheWalkWrapsAfter49) {
    Scan s;
    s.run(51);
    const auto opens = s.opens();
    ASSERT_EQ(opens.size(), 51u);
    for (int k = 1; k <= 49; ++k) {
        EXPECT_EQ(std::get<0>(opens[k - 1]), k);
        EXPECT_EQ(std::get<1>(opens[k - 1]), portName(k));
        EXPECT_EQ(std::get<2>(opens[k - 1]), PortStatus::DeviceUnavailable);
    }
    EXPECT_EQ(std::get<1>(opens[49]), "COM1");  // 50 is never tried
    EXPECT_EQ(std::get<1>(opens[50]), "COM2");
    EXPECT_TRUE(s.ports.callsOf(PortOp::SetOption).empty());
    // The 2 ms pause follows every open, failed or not.
    const auto pauses = s.ports.callsOf(PortOp::Pause);
    ASSERT_EQ(pauses.size(), 51u);
    EXPECT_EQ(pauses[0].value, 2);
    EXPECT_EQ(s.state.percent, static_cast<std::int32_t>(PortStatus::DeviceUnavailable));
}

TEST(PortScan, OpenedPortGetsTheLineConfigurationInOrder) {
    Scan s;
    s.ports.device("COM1");
    s.run(1);
    const std::vector<std::pair<PortOption, std::int32_t>> expected = {
        {PortOption::BaudRate, 57600},    {PortOption::DataBits, 8},
        {PortOption::ParityCheck, 0},     {PortOption::StopBits, 0},
        {PortOption::ReceiveQueue, 4096}, {PortOption::TransmitQueue, 4096},
        {PortOption::DtrHandshake, 1},    {PortOption::DtrLine, 1},
    };
    EXPECT_EQ(s.ports.device("COM1").optionLog, expected);
    EXPECT_EQ(s.state.portOpen, 1);
    EXPECT_EQ(s.state.settleTicks, 35);
    // Open, then the pause, then the settings.
    EXPECT_EQ(s.ports.calls[1].op, PortOp::Open);
    EXPECT_EQ(s.ports.calls[2].op, PortOp::Pause);
    EXPECT_EQ(s.ports.calls[3].op, PortOp::SetOption);
}

struct ScanCase {
    const char* name;
    // What COM2 receives, by tick (COM1 is absent; COM2 opens on tick 2 and is checked on 38).
    std::vector<std::pair<std::int64_t, std::string>> arrivals;
    std::set<std::int64_t> lineErrors;
    std::set<PortOption> refused;
    bool found;
    bool read;  // whether the check reads any byte
};

TEST(PortScan, IdentificationCheckOnTheTickAfterTheCountdown) {
    const std::vector<ScanCase> cases = {
        {"identification alone", {{5, "VKT5\r\n"}}, {}, {}, true, true},
        {"among other text", {{5, "noise\0VKT5\r\nVKT5\r\nmore"s}}, {}, {}, true, true},
        {"split over ticks", {{3, "VK"}, {20, "T5\r"}, {38, "\n"}}, {}, {}, true, true},
        {"line end after the check", {{3, "VKT5\r"}, {39, "\n"}}, {}, {}, false, true},
        {"no line end", {{3, "VKT5VKT5"}}, {}, {}, false, true},
        {"lower case", {{3, "vkt5\r\n"}}, {}, {}, false, true},
        {"CR LF reversed", {{3, "VKT5\n\r"}}, {}, {}, false, true},
        {"nothing received", {}, {}, {}, false, false},
        {"line error before the check", {{3, "VKT5\r\n"}}, {10}, {}, false, false},
        {"refused speed", {{3, "VKT5\r\n"}}, {}, {PortOption::BaudRate}, true, true},
        {"bytes before the open are lost", {{1, "VKT5\r\n"}}, {}, {}, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Scan s;
        auto& com2 = s.ports.device("COM2");
        for (const auto& [t, bytes] : c.arrivals) {
            com2.arriveAt(t, bytes);
        }
        com2.lineErrorTicks = c.lineErrors;
        com2.refused = c.refused;
        s.run(38);

        EXPECT_EQ(s.state.unitFound, c.found ? 1 : 0);
        EXPECT_EQ(s.tick, 38);
        EXPECT_EQ(s.ticksOf(PortOp::Queued), std::vector<std::int64_t>{38});
        EXPECT_EQ(s.ticksOf(PortOp::Receive).size(), c.read ? 1u : 0u);
        EXPECT_EQ(com2.open, c.found);
        EXPECT_EQ(s.state.portOpen, c.found ? 1 : 0);
        // Only the unit's port keeps our settings; any other gets its own back when closed.
        EXPECT_EQ(com2.settingsKept, c.found);
        if (c.found) {
            EXPECT_TRUE(s.ticksOf(PortOp::Close).empty());
            EXPECT_EQ(s.state.portNumber, 2);
            EXPECT_EQ(s.state.settleTicks, 0);
            EXPECT_TRUE(s.state.rxBuffer.empty());  // the check's bytes stay in scratch
        } else {
            EXPECT_EQ(s.ticksOf(PortOp::Close), std::vector<std::int64_t>{38});
            // The next port is tried on the very next tick.
            s.run(39);
            EXPECT_EQ(std::get<1>(s.opens().back()), "COM3");
            EXPECT_EQ(std::get<0>(s.opens().back()), 39);
        }
    }
}

TEST(PortScan, SilentPortsCost37TicksEach) {
    Scan s;
    for (int k = 1; k <= 49; ++k) {
        s.ports.device(portName(k));
    }
    s.run(1813 + 1);
    const auto opens = s.opens();
    ASSERT_EQ(opens.size(), 50u);
    EXPECT_EQ(std::get<0>(opens[48]), 1 + 48 * 37);
    EXPECT_EQ(std::get<1>(opens[49]), "COM1");
    EXPECT_EQ(std::get<0>(opens[49]), 1814);  // one pass over 49 open ports is 1813 ticks
}

TEST(PortScan, DrainReadsWhatArrivedAndOnlyThat) {
    Scan s;
    auto& com1 = s.ports.device("COM1");
    com1.arriveAt(2, "VKT5\r\n");
    s.run(37);
    ASSERT_EQ(s.state.unitFound, 1);
    com1.arriveAt(38, "VKT5\r\nVK");
    s.ports.setTick(38);
    drainInput(s.state, s.ports);
    EXPECT_EQ(s.state.scratch, "VKT5\r\nVK");
    EXPECT_TRUE(com1.queue.empty());

    const auto receivesBefore = s.ports.callsOf(PortOp::Receive).size();
    drainInput(s.state, s.ports);  // nothing waiting: nothing read
    EXPECT_EQ(s.ports.callsOf(PortOp::Receive).size(), receivesBefore);
    EXPECT_EQ(s.state.bytesWaiting, 0);
}

}  // namespace
}  // namespace vkt5
