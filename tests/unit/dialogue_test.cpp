// The boot-loader dialogue step by step: what each step accepts, what goes out on the wire, the
// version rule, and the stop after a line the port did not take.
#include <gtest/gtest.h>

#include <functional>

#include <string>
#include <vector>

#include "app/upgrade_state.h"
#include "fakes/scripted_port.h"
#include "firmware/boot_loader_dialogue.h"

namespace vkt5 {
namespace {

using test::PortOp;
using test::ScriptedPort;
using namespace std::string_literals;

struct Dialogue {
    ScriptedPort ports;
    UpgradeState state;
    std::int64_t tick = 0;

    Dialogue() {
        state.portFile = ports.openExisting("COM1");
        state.imageLines.assign(IMAGE_TABLE_SIZE, "");
    }
    // One call, with these bytes arriving first.
    void call(const std::string& arriving = "") {
        ++tick;
        if (!arriving.empty()) {
            ports.device("COM1").arriveAt(tick, arriving);
        }
        ports.setTick(tick);
        advanceDialogue(state, ports);
    }
    const std::string& written() { return ports.device("COM1").written; }
};

// A waiting step given one line: whether it moves on, and to which step.
struct WaitCase {
    const char* name;
    std::int32_t step;
    std::string arriving;
    std::int32_t next;
};

TEST(Dialogue, WaitingStepsCompareWholeLinesExactly) {
    const std::vector<WaitCase> cases = {
        {"identification", AwaitIdentification, "VKT5\r\n", AnswerIdentification},
        {"identification lower case", AwaitIdentification, "vkt5\r\n", AwaitIdentification},
        {"identification and a space", AwaitIdentification, "VKT5 \r\n", AwaitIdentification},
        {"identification and text", AwaitIdentification, "VKT5 V1.0\r\n", AwaitIdentification},
        {"two identifications in one chunk", AwaitIdentification, "VKT5\r\nVKT5\r\n",
         AnswerIdentification},
        {"identification without line end", AwaitIdentification, "VKT5", AwaitIdentification},
        {"erase choice", AwaitEraseChoice, "E or P?\r\n", RequestErase},
        {"erase choice other case", AwaitEraseChoice, "e or p?\r\n", AwaitEraseChoice},
        {"erased", AwaitErased, "Erased\r\n", AnswerErased},
        {"choice prompt while awaiting erased", AwaitErased, "E or P?\r\n", AwaitErased},
        {"program choice", AwaitProgramChoice, "E or P?\r\n", RequestProgram},
        {"bare prompt", AwaitLinePrompt, "*", SendImageLine},
        {"prompt with line end", AwaitLinePrompt, "*\r\n", SendImageLine},
        {"done", AwaitLinePrompt, "Done\r\n", UnitDone},
        {"echoed record", AwaitLinePrompt, ":020000040000FA\r\n", AwaitLinePrompt},
        {"echo before the prompt", AwaitLinePrompt, "P*", SendImageLine},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Dialogue d;
        d.state.step = c.step;
        d.call(c.arriving);
        EXPECT_EQ(d.state.step, c.next);
        EXPECT_EQ(d.state.lineReady, 0);  // consumed, matched or not
        EXPECT_TRUE(d.written().empty());
    }
}

TEST(Dialogue, SendingStepsSendOneAnswerAndMoveOn) {
    const std::vector<std::tuple<std::int32_t, std::string, std::int32_t>> cases = {
        {AnswerIdentification, "Y", AwaitVersion}, {ConfirmUpgrade, "Y", AwaitEraseChoice},
        {RequestErase, "E", AwaitErased},          {AnswerErased, "Y", AwaitProgramChoice},
        {RequestProgram, "P", AwaitLinePrompt},
    };
    for (const auto& [step, sent, next] : cases) {
        SCOPED_TRACE(step);
        Dialogue d;
        d.state.step = step;
        d.state.linesSent = 17;
        d.ports.device("COM1").arriveAt(1, "VKT5\r\n");  // a sending step never reads
        d.call();
        EXPECT_EQ(d.written(), sent);
        EXPECT_EQ(d.state.step, next);
        EXPECT_TRUE(d.ports.callsOf(PortOp::Queued).empty());
        EXPECT_EQ(d.state.linesSent, step == RequestProgram ? 0 : 17);
    }
}

TEST(Dialogue, ImageLinesGoOutWithCrLfOnePerPrompt) {
    Dialogue d;
    d.state.imageLines[0] = ":020000040000FA";
    d.state.imageLines[1] = "";  // an empty entry goes out as the line end alone
    d.state.lineCount = 2;
    d.state.step = AwaitLinePrompt;
    d.call("*");
    d.call();
    d.call("*\r\n");
    d.call();
    EXPECT_EQ(d.ports.device("COM1").sends,
              (std::vector<std::string>{":020000040000FA\r\n", "\r\n"}));
    EXPECT_EQ(d.state.linesSent, 2);
    EXPECT_EQ(d.state.outLine, "\r\n");
    EXPECT_EQ(d.state.step, AwaitLinePrompt);
}

TEST(Dialogue, NoPromptNoLine) {
    Dialogue d;
    d.state.step = AwaitLinePrompt;
    for (int i = 0; i < 5; ++i) {
        d.call();
    }
    EXPECT_TRUE(d.written().empty());
    EXPECT_EQ(d.state.step, AwaitLinePrompt);
}

TEST(Dialogue, LineThePortDidNotTakeIsNotCountedAndEndsTheDialogue) {
    Dialogue d;
    d.state.imageLines[0] = ":00000001FF";
    d.state.lineCount = 1;
    d.state.step = SendImageLine;
    d.ports.device("COM1").sendsAccepted = 0;
    d.call();
    EXPECT_EQ(d.state.linesSent, 0);
    EXPECT_EQ(d.state.step, UnitDone);
    d.call("*");
    EXPECT_EQ(d.ports.callsOf(PortOp::Send).size(), 1u);  // nothing more is tried
}

TEST(Dialogue, StepsOutsideTheTableDoNothing) {
    for (std::int32_t step : {13, 19, 20, 21, -1, 1000}) {
        Dialogue d;
        d.state.step = step;
        d.call("*");
        EXPECT_EQ(d.state.step, step);
        EXPECT_TRUE(d.ports.calls.size() == 2u) << "step " << step;  // only the setup
    }
}

TEST(Dialogue, SendImageLineNeverReadsPastTheTable) {
    Dialogue d;
    d.state.linesSent = static_cast<std::int32_t>(d.state.imageLines.size());
    d.state.step = SendImageLine;
    d.call();
    EXPECT_TRUE(d.written().empty());
    EXPECT_EQ(d.state.step, UnitDone);
}

TEST(Dialogue, VersionLineGivesTheInstalledVersion) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"VKT5 V1.002", "V1.002"},
        {"vkt5 v1.001a", "V1.001A"},
        {"VKT5 V1.0 build 7", "V1.0 BUILD 7"},
        {"VKT5 1.002", "V"},
        {"", "V"},
        {"VKT5 V", "V"},
        {" V2 V3", "V2 V3"},
        {"VKT5 v\xe9t\xe9", "V\xc9T\xc9"},  // Windows-1252 letters are upper-cased too
        {"a\0b V9"s, "V9"},
    };
    for (const auto& [line, version] : cases) {
        Dialogue d;
        d.state.step = AwaitVersion;
        d.call(line + "\r\n");
        EXPECT_EQ(d.state.unitVersion, version) << line;
        EXPECT_EQ(d.state.versionKnown, 1);
        EXPECT_EQ(d.state.step, ConfirmUpgrade);
    }
}

// What ends the dialogue short, and what it then reports.
TEST(Dialogue, FaultsAreReportedAsFailures) {
    struct FaultCase {
        const char* name;
        std::int32_t step;
        std::function<void(Dialogue&)> fault;
        std::string arriving;
        std::int32_t failure;
        std::int32_t stepAfter;
    };
    const std::vector<FaultCase> cases = {
        {"hang-up while a line is awaited", AwaitErased,
         [](Dialogue& d) { d.ports.device("COM1").hangUpTick = 1; }, "", PortLost, AwaitErased},
        {"hang-up while the version is awaited", AwaitVersion,
         [](Dialogue& d) { d.ports.device("COM1").hangUpTick = 1; }, "", PortLost, AwaitVersion},
        {"Done before the last line", AwaitLinePrompt, [](Dialogue&) {}, "Done\r\n", EndedEarly,
         UnitDone},
        {"an answer the port did not take", ConfirmUpgrade,
         [](Dialogue& d) { d.ports.device("COM1").sendsAccepted = 0; }, "", SendFailed,
         AwaitEraseChoice},
        {"a line the port did not take", SendImageLine,
         [](Dialogue& d) { d.ports.device("COM1").sendsAccepted = 0; }, "", SendFailed, UnitDone},
        {"an unexpected line is no failure", AwaitErased, [](Dialogue&) {}, "Done\r\n", NoFailure,
         AwaitErased},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Dialogue d;
        d.state.lineCount = 2;
        d.state.step = c.step;
        c.fault(d);
        d.call(c.arriving);
        EXPECT_EQ(d.state.failure, c.failure);
        EXPECT_EQ(d.state.step, c.stepAfter);
        EXPECT_EQ(d.state.linesSent, 0);
    }
}

TEST(Dialogue, WholeExchangeOnTheWire) {
    Dialogue d;
    d.state.imageLines[0] = ":020000040000FA";
    d.state.imageLines[1] = ":00000001FF";
    d.state.lineCount = 2;
    d.call();  // start
    d.call("VKT5\r\n");
    d.call();            // Y
    d.call("VKT5\r\n");  // a repeat of the identification is not the version line
    EXPECT_EQ(d.state.versionKnown, 0);
    EXPECT_EQ(d.state.step, AwaitVersion);
    d.call("VKT5 V1.001\r\n");
    EXPECT_EQ(d.state.unitVersion, "V1.001");
    d.call();  // Y
    d.call("E or P?\r\n");
    d.call();  // E
    d.call("Erased\r\n");
    d.call();  // Y
    d.call("E or P?\r\n");
    d.call();  // P
    d.call("*");
    d.call();  // line 0
    d.call("*");
    d.call();  // line 1
    EXPECT_EQ(d.written(), "YYEYP:020000040000FA\r\n:00000001FF\r\n");
    EXPECT_EQ(d.state.linesSent, 2);
}

}  // namespace
}  // namespace vkt5
