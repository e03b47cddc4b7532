#include "serial/traced_port_service.h"

#include <gtest/gtest.h>

#include "fakes/scripted_port.h"

namespace vkt5 {
namespace {

using test::ScriptedPort;

struct Traced {
    ScriptedPort inner;
    std::int64_t micros = 1'500'000;
    std::vector<std::string> lines;
    TracedPortService traced{inner, [this] { return micros; },
                             [this](std::string_view line) { lines.emplace_back(line); }};
};

TEST(TracedPortService, EveryByteEachWayWithTimeAndPortAndNothingChangedOnTheWay) {
    Traced t;
    t.inner.device("COM3").arriveAt(0, std::string("VKT5\r\n\0\x7F\\*", 10));
    const PortHandle h = t.traced.nextFreeHandle();
    ASSERT_EQ(t.traced.openPort(h, "COM3"), PortStatus::Ok);
    t.inner.setTick(1);
    t.micros = 1'500'042;
    ASSERT_EQ(t.traced.queuedBytes(h).count, 10);
    const ReceivedBytes got = t.traced.receiveBytes(h, 10);
    EXPECT_EQ(got.text, std::string("VKT5\r\n\0\x7F\\*", 10));
    t.micros = 12'000'001;
    EXPECT_EQ(t.traced.sendText(h, ":00000001FF\r\n"), PortStatus::Ok);
    EXPECT_EQ(t.inner.device("COM3").written, ":00000001FF\r\n");
    EXPECT_EQ(t.traced.closePort(h), PortStatus::Ok);

    const std::vector<std::string> expected = {
        "1.500000 COM3 open",
        "1.500042 COM3 rx VKT5\\r\\n\\x00\\x7F\\x5C*",
        "12.000001 COM3 tx :00000001FF\\r\\n",
        "12.000001 COM3 close",
    };
    EXPECT_EQ(t.lines, expected);
}

TEST(TracedPortService, FailuresAreWrittenDownAndPassedOn) {
    Traced t;
    EXPECT_EQ(t.traced.openPort(1, "COM9"), PortStatus::DeviceUnavailable);
    EXPECT_EQ(t.traced.lastOpenDetail().state, PortState::Absent);
    EXPECT_TRUE(t.lines.empty());  // an absent port leaves no line

    t.inner.failNth(test::PortOp::Send, 1, PortStatus::IncompleteTransfer);
    const PortHandle h = t.inner.openExisting("COM4");
    EXPECT_EQ(t.traced.sendText(h, "Y"), PortStatus::IncompleteTransfer);
    EXPECT_EQ(t.traced.receiveBytes(h, 0).status, PortStatus::InvalidArgument);
    ASSERT_EQ(t.lines.size(), 3u);
    EXPECT_EQ(t.lines[0], "1.500000 #" + std::to_string(h) + " tx Y");
    EXPECT_NE(t.lines[1].find("tx failed"), std::string::npos);
    EXPECT_NE(t.lines[2].find("rx failed"), std::string::npos);
}

}  // namespace
}  // namespace vkt5
