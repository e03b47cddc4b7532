// Framing of the unit's bytes into lines: the documented cases as one table, then every
// transcript of the exchange cut at every byte position.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/upgrade_state.h"
#include "fakes/scripted_port.h"
#include "serial/line_receiver.h"

namespace vkt5 {
namespace {

using test::ScriptedPort;

struct Receiver {
    ScriptedPort ports;
    UpgradeState state;
    std::int64_t tick = 0;

    Receiver() { state.portFile = ports.openExisting("COM3"); }

    // Feeds one tick's bytes and runs the receiver once; returns the delivered line, if any.
    std::optional<std::string> feed(const std::string& bytes) {
        ++tick;
        if (!bytes.empty()) {
            ports.device("COM3").arriveAt(tick, bytes);
        }
        ports.setTick(tick);
        receiveLine(state, ports);
        if (state.lineReady == 0) {
            return std::nullopt;
        }
        state.lineReady = 0;
        return state.lastLine;
    }
};

struct FramingCase {
    const char* name;
    std::vector<std::string> ticks;                 // bytes arriving per tick
    std::vector<std::optional<std::string>> lines;  // what each tick delivers
    std::string bufferAfter;
};

TEST(LineReceiver, FramesLinesAndPrompts) {
    using std::nullopt;
    const std::string crlf = "\r\n";
    const std::vector<FramingCase> cases = {
        {"line in one burst", {"E or P?\r\n"}, {"E or P?"}, ""},
        {"line over two ticks", {"E or", " P?\r\n"}, {nullopt, "E or P?"}, ""},
        {"CR and LF in different ticks", {"Erased\r", "\n"}, {nullopt, "Erased"}, ""},
        {"bare line end", {"\r\n"}, {""}, ""},
        {"bare prompt", {"*"}, {"*"}, ""},
        {"prompt with line end", {"*\r\n"}, {"*"}, ""},
        {"two prompts", {"**"}, {"*"}, ""},
        {"prompt with text after", {"*x"}, {nullopt}, "*x"},
        {"stray byte before the prompt is dropped", {std::string("\0*", 2)}, {"*"}, ""},
        {"echo and prompt in one burst", {"P*"}, {"*"}, ""},
        {"two lines in one burst, one per call",
         {"Erased\r\nE or P?\r\n", ""},
         {"Erased", "E or P?"},
         ""},
        {"line then prompt", {"Done\r\n*", ""}, {"Done", "*"}, ""},
        {"echoed record then prompt", {":00000001FF\r\n*", ""}, {":00000001FF", "*"}, ""},
        {"noise line before a line",
         {std::string("\0\x7f~junk\r\nErased\r\n", 17), ""},
         {std::string("\0\x7f~junk", 7), "Erased"},
         ""},
        {"line then the start of the next",
         {"Erased\r\nE or", " P?\r\n"},
         {"Erased", "E or P?"},
         ""},
        {"lone CR", {"VKT5\r"}, {nullopt}, "VKT5\r"},
        {"lone LF", {"VKT5\n"}, {nullopt}, "VKT5\n"},
        {"nothing at all", {""}, {nullopt}, ""},
        {"NUL bytes kept", {std::string("a\0b\r\n", 5)}, {std::string("a\0b", 3)}, ""},
        {"prompt after waiting text", {"Do", "*"}, {nullopt, "*"}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Receiver r;
        ASSERT_EQ(c.ticks.size(), c.lines.size());
        for (std::size_t i = 0; i < c.ticks.size(); ++i) {
            EXPECT_EQ(r.feed(c.ticks[i]), c.lines[i]) << "tick " << i;
        }
        EXPECT_EQ(r.state.rxBuffer, c.bufferAfter);
    }
}

TEST(LineReceiver, NothingWaitingChangesOnlyTheCountAndScratchLength) {
    Receiver r;
    r.state.lastLine = "old";
    r.state.scratch = "keep";
    r.state.bytesWaiting = 7;
    r.state.percent = 9;
    EXPECT_EQ(r.feed(""), std::nullopt);
    EXPECT_EQ(r.state.bytesWaiting, 0);
    EXPECT_EQ(r.state.percent, 0);
    EXPECT_EQ(r.state.lastLine, "old");
    EXPECT_EQ(r.state.scratch, "keep");
    EXPECT_TRUE(r.ports.callsOf(test::PortOp::Receive).empty());
}

TEST(LineReceiver, UntakenLineIsOverwrittenByTheNext) {
    Receiver r;
    r.ports.device("COM3").arriveAt(1, "first\r\n");
    r.ports.setTick(1);
    receiveLine(r.state, r.ports);
    r.ports.device("COM3").arriveAt(2, "second\r\n");
    r.ports.setTick(2);
    receiveLine(r.state, r.ports);
    EXPECT_EQ(r.state.lineReady, 1);
    EXPECT_EQ(r.state.lastLine, "second");
}

// Each line of the unit's side of the exchange, split in two at every byte position and fed over
// two ticks, is delivered exactly once, whole, on the tick that completes it.
TEST(LineReceiver, EveryTranscriptCutAtEveryBytePosition) {
    const std::vector<std::pair<std::string, std::string>> transcript = {
        {"VKT5\r\n", "VKT5"},
        {"VKT5 V1.001\r\n", "VKT5 V1.001"},
        {"E or P?\r\n", "E or P?"},
        {"Erased\r\n", "Erased"},
        {"*", "*"},
        {"*\r\n", "*"},
        {"Done\r\n", "Done"},
        {":00000001FF\r\n", ":00000001FF"},
    };
    for (const auto& [wire, line] : transcript) {
        for (std::size_t cut = 0; cut <= wire.size(); ++cut) {
            SCOPED_TRACE(testing::Message() << '"' << line << "\" cut at " << cut);
            Receiver r;
            const auto first = r.feed(wire.substr(0, cut));
            const auto second = r.feed(wire.substr(cut));
            if (cut == wire.size()) {
                EXPECT_EQ(first, line);
                EXPECT_EQ(second, std::nullopt);
            } else if (wire == "*\r\n" && cut == 1) {
                // The bare prompt is complete on its own; the line end that follows then makes an
                // empty line of its own.
                EXPECT_EQ(first, "*");
                EXPECT_EQ(second, "");
            } else {
                EXPECT_EQ(first, std::nullopt);
                EXPECT_EQ(second, line);
            }
            EXPECT_TRUE(r.state.rxBuffer.empty());
        }
    }
}

// A burst of several lines, cut anywhere: every line comes out once, whole and in order, then the
// prompt that ended the burst.
TEST(LineReceiver, BurstsLoseNoLineWhereverTheyAreCut) {
    const std::string wire =
        "VKT5\r\nVKT5 V1.001\r\nE or P?\r\nErased\r\nE or P?\r\n:00000001FF\r\n*";
    const std::vector<std::string> lines = {"VKT5",    "VKT5 V1.001", "E or P?", "Erased",
                                            "E or P?", ":00000001FF", "*"};
    for (std::size_t cut = 0; cut <= wire.size(); ++cut) {
        SCOPED_TRACE(testing::Message() << "cut at " << cut);
        Receiver r;
        std::vector<std::string> got;
        for (const std::string& part : {wire.substr(0, cut), wire.substr(cut)}) {
            for (auto line = r.feed(part); line; line = r.feed("")) {
                got.push_back(*line);
            }
        }
        EXPECT_EQ(got, lines);
    }
}

TEST(LineReceiver, ADeviceThatGoesAwayIsNoted) {
    Receiver r;
    EXPECT_EQ(r.feed("VKT5\r\n"), "VKT5");
    EXPECT_EQ(r.state.portLost, 0);
    r.ports.device("COM3").hangUpTick = r.tick + 1;
    EXPECT_EQ(r.feed(""), std::nullopt);
    EXPECT_EQ(r.state.portLost, 1);
}

TEST(LineReceiver, ALineErrorIsNotALostDevice) {
    Receiver r;
    r.ports.device("COM3").lineErrorTicks.insert(1);
    r.feed("");
    EXPECT_EQ(r.state.portLost, 0);
    EXPECT_EQ(r.feed("x\r\n"), "x");
    EXPECT_EQ(r.state.portLost, 0);
}

TEST(LineReceiver, TextWithoutLineEndsStaysBounded) {
    Receiver r;
    const std::string chunk(1000, 'x');
    for (int i = 0; i < 50; ++i) {
        EXPECT_EQ(r.feed(chunk), std::nullopt);
        EXPECT_LE(r.state.rxBuffer.size(), RX_BUFFER_LIMIT);
    }
    // A line end still ends a line afterwards, and the buffer starts afresh.
    EXPECT_TRUE(r.feed("\r\n").has_value());
    EXPECT_EQ(r.feed("Erased\r\n"), "Erased");
}

}  // namespace
}  // namespace vkt5
