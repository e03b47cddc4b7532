#include "tools/unit_sim/unit_protocol.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "sim_test_support.h"

namespace vkt5::sim {
namespace {

using testing::joinLines;
using testing::ms;
using testing::smallImageLines;
using testing::UnitDriver;

const std::string NOISE(NOISE_LINE);
const std::string OPENING = "VKT5\r\nVKT5 V1.001\r\nE or P?\r\nErased\r\nE or P?\r\n*";

TEST(UnitProtocolTest, WholeUploadFollowsTheDialogueAndProgramsTheFlash) {
    UnitDriver driver;
    EXPECT_EQ(driver.reachProgramming(), OPENING);
    EXPECT_EQ(driver.unit.state(), UnitState::Programming);

    const std::vector<std::string> lines = smallImageLines();
    for (const std::string& line : lines) {
        driver.after(ms(1));
        EXPECT_EQ(driver.send(line + "\r\n"), "*") << line;
    }
    EXPECT_EQ(driver.unit.state(), UnitState::Finished);
    // Identification lines stop once answered, and nothing follows the last prompt.
    EXPECT_EQ(driver.after(ms(10'000)), "");

    const UnitTally& tally = driver.unit.tally();
    EXPECT_EQ(tally.recordsReceived, lines.size());
    EXPECT_EQ(tally.badRecords, 0u);
    EXPECT_EQ(tally.protocolErrors, 0u);
    EXPECT_TRUE(tally.erased);
    EXPECT_TRUE(tally.eofSeen);
    EXPECT_EQ(tally.bytesReceived, 5 + joinLines(lines).size());
    EXPECT_EQ(tally.programAt, ms(4));
    EXPECT_EQ(tally.firstRecordAt, ms(6));
    EXPECT_EQ(tally.eofAt, ms(10));
    EXPECT_EQ(driver.unit.recordLines(), lines);

    const HexMemory& flash = driver.unit.flash().memory();
    ASSERT_EQ(flash.size(), 20u);
    EXPECT_EQ(flash.begin()->first, 0xFFF0u);
    EXPECT_EQ(flash.at(0xFFFF), 0xAF);
    EXPECT_EQ(flash.at(0x10000), 0x01);
    EXPECT_EQ(flash.rbegin()->first, 0x10003u);
}

TEST(UnitProtocolTest, RepeatsIdentificationOnItsIntervalWithoutBurstingAfterAStall) {
    UnitBehaviour behaviour;
    behaviour.identInterval = ms(100);
    UnitDriver driver(behaviour);
    EXPECT_EQ(driver.at(ms(0)), "VKT5\r\n");
    EXPECT_EQ(driver.at(ms(99)), "");
    EXPECT_EQ(driver.at(ms(100)), "VKT5\r\n");
    EXPECT_EQ(driver.at(ms(350)), "VKT5\r\nVKT5\r\n");
    EXPECT_EQ(driver.unit.nextDue(), ms(400));
    // A stall of several beats yields the overdue line and one more, not every missed one.
    EXPECT_EQ(driver.at(ms(5'000)), "VKT5\r\nVKT5\r\n");
    EXPECT_EQ(driver.at(ms(5'099)), "");
    EXPECT_EQ(driver.at(ms(5'100)), "VKT5\r\n");
}

TEST(UnitProtocolTest, UnexpectedBytesAreCountedAndIgnored) {
    struct Case {
        const char* name;
        std::string beforeFault;  // letters sent first, each answered normally
        std::string fault;        // the bytes that break the dialogue
        std::string afterFault;   // then these still work
        std::string expectedAfter;
    };
    const std::vector<Case> cases = {
        {"lower-case y at identification", "", "y", "Y", "VKT5 V1.001\r\n"},
        {"CR LF after the answer", "", "\r\n", "Y", "VKT5 V1.001\r\n"},
        {"E instead of confirming", "Y", "E", "Y", "E or P?\r\n"},
        {"Y at the choice", "YY", "Y", "E", "Erased\r\n"},
        {"E again after Erased", "YYE", "E", "Y", "E or P?\r\n"},
        {"two letters in one write", "Y", "YY", "E", "Erased\r\n"},
    };
    for (const Case& c : cases) {
        UnitDriver driver;
        driver.at(ms(0));
        for (const char letter : c.beforeFault) {
            driver.send(std::string(1, letter));
            driver.after(ms(1));
        }
        driver.send(c.fault);
        driver.after(ms(1));
        const std::uint64_t errors = c.fault == "YY" ? 1u : c.fault.size();
        EXPECT_EQ(driver.unit.tally().protocolErrors, errors) << c.name;
        EXPECT_EQ(driver.send(c.afterFault), c.expectedAfter) << c.name;
        EXPECT_EQ(driver.unit.tally().protocolErrors, errors) << c.name;
    }
}

TEST(UnitProtocolTest, ProgrammingWithoutEraseIsAnErrorButStillPrompts) {
    UnitDriver driver;
    driver.at(ms(0));
    driver.send("Y");
    driver.send("Y");
    EXPECT_EQ(driver.send("P"), "*");
    EXPECT_EQ(driver.unit.tally().protocolErrors, 1u);
    EXPECT_FALSE(driver.unit.tally().erased);
}

TEST(UnitProtocolTest, AnswerThatHasNotGoneOutYetMustNotBeAnswered) {
    UnitBehaviour behaviour;
    behaviour.eraseDelay = ms(100);
    UnitDriver driver(behaviour);
    driver.at(ms(0));
    driver.send("Y");
    driver.send("Y");
    EXPECT_EQ(driver.send("E"), "");
    EXPECT_EQ(driver.at(ms(50)), "");
    driver.send("Y");  // before "Erased" was even sent
    EXPECT_EQ(driver.unit.tally().protocolErrors, 1u);
    EXPECT_EQ(driver.at(ms(100)), "Erased\r\nE or P?\r\n");
}

TEST(UnitProtocolTest, BytesAfterTheEndOfFileRecordAreErrors) {
    UnitDriver driver;
    driver.reachProgramming();
    for (const std::string& line : smallImageLines()) {
        driver.send(line + "\r\n");
    }
    driver.after(ms(1));
    driver.send("Y");
    driver.send(smallImageLines()[1] + "\r\n");
    EXPECT_EQ(driver.unit.tally().recordsReceived, 5u);
    EXPECT_EQ(driver.unit.tally().protocolErrors, 1u + smallImageLines()[1].size() + 2);
}

TEST(UnitProtocolTest, BadRecordsAreCountedPromptedAndLeaveTheFlashAlone) {
    const std::string good = smallImageLines()[1];  // 16 bytes at 0xFFF0
    std::string wrongChecksum = good;
    wrongChecksum.back() = wrongChecksum.back() == '0' ? '1' : '0';
    std::string lowerCase = good;
    lowerCase[lowerCase.size() - 3] = 'f';  // "AF" data byte in lower case
    const std::vector<std::pair<const char*, std::string>> cases = {
        {"wrong checksum", wrongChecksum},
        {"lower-case digits", lowerCase},
        {"no colon", good.substr(1)},
        {"empty line", ""},
        {"odd digit count", good + "0"},
        {"count disagrees with length", ":0200000000FE"},
        {"extended segment address type", ":020000021000EC"},
        {"stray CR inside", good.substr(0, 9) + "\r" + good.substr(9)},
        {"address record with one byte", ":01000004FFFC"},
    };
    for (const auto& [name, line] : cases) {
        UnitDriver driver;
        driver.reachProgramming();
        driver.after(ms(1));
        EXPECT_EQ(driver.send(line + "\r\n"), "*") << name;
        EXPECT_EQ(driver.unit.tally().recordsReceived, 1u) << name;
        EXPECT_EQ(driver.unit.tally().badRecords, 1u) << name;
        EXPECT_EQ(driver.unit.tally().protocolErrors, 0u) << name;
        EXPECT_TRUE(driver.unit.flash().memory().empty()) << name;
        ASSERT_EQ(driver.unit.tally().notes.size(), 1u) << name;
        EXPECT_EQ(driver.unit.recordLines(), std::vector<std::string>{line}) << name;
    }
}

TEST(UnitProtocolTest, RunawayLineIsDroppedAndTheUnitCarriesOn) {
    UnitDriver driver;
    driver.reachProgramming();
    driver.after(ms(1));
    EXPECT_EQ(driver.send(std::string(3000, '0')), "");
    EXPECT_EQ(driver.unit.tally().badRecords, 1u);
    EXPECT_EQ(driver.send("\r\n"), "*");
    EXPECT_EQ(driver.unit.tally().recordsReceived, 1u);
    driver.after(ms(1));
    EXPECT_EQ(driver.send(smallImageLines()[0] + "\r\n"), "*");
    EXPECT_EQ(driver.unit.tally().recordsReceived, 2u);
    EXPECT_EQ(driver.unit.tally().badRecords, 1u);
}

TEST(UnitProtocolTest, RecordLineArrivingInPiecesIsOneRecord) {
    const std::string line = smallImageLines()[1] + "\r\n";
    for (std::size_t cut = 1; cut < line.size(); ++cut) {
        UnitDriver driver;
        driver.reachProgramming();
        driver.after(ms(1));
        EXPECT_EQ(driver.send(line.substr(0, cut)), "") << cut;
        EXPECT_EQ(driver.send(line.substr(cut)), "*") << cut;
        EXPECT_EQ(driver.unit.tally().badRecords, 0u) << cut;
        EXPECT_EQ(driver.unit.tally().protocolErrors, 0u) << cut;
    }
}

// done-after, silent-after and hangup-after replace the prompt that would invite record N + 1.
TEST(UnitProtocolTest, PromptFaultsActAfterNRecords) {
    enum class Fault { Done, Silent, Hangup };
    struct Case {
        Fault fault;
        std::uint64_t after;
        UnitState state;
        std::string lastAnswer;
    };
    const std::vector<Case> cases = {
        {Fault::Done, 0, UnitState::Done, "Done\r\n"},
        {Fault::Done, 2, UnitState::Done, "Done\r\n"},
        {Fault::Silent, 0, UnitState::Mute, ""},
        {Fault::Silent, 2, UnitState::Mute, ""},
        {Fault::Hangup, 0, UnitState::HungUp, ""},
        {Fault::Hangup, 2, UnitState::HungUp, ""},
    };
    const std::vector<std::string> lines = smallImageLines();
    for (const Case& c : cases) {
        UnitBehaviour behaviour;
        (c.fault == Fault::Done     ? behaviour.doneAfter
         : c.fault == Fault::Silent ? behaviour.silentAfter
                                    : behaviour.hangupAfter) = c.after;
        UnitDriver driver(behaviour);
        std::string said = driver.reachProgramming();
        for (std::uint64_t i = 0; i < c.after; ++i) {
            driver.after(ms(1));
            said += driver.send(lines[i] + "\r\n");
        }
        const std::string expected =
            OPENING.substr(0, OPENING.size() - 1) + std::string(c.after, '*') + c.lastAnswer;
        EXPECT_EQ(said, expected) << static_cast<int>(c.fault) << " after " << c.after;
        EXPECT_EQ(driver.unit.state(), c.state);
        EXPECT_EQ(driver.unit.hangupRequested(), c.fault == Fault::Hangup);
        // Whatever the program sends next gets no prompt.
        driver.after(ms(1));
        EXPECT_EQ(driver.send(lines[c.after] + "\r\n") + driver.after(ms(1000)), "");
    }
}

TEST(UnitProtocolTest, HangupAtQuestionCountsFromTheVersionLineLeavingTheAdapter) {
    struct Case {
        std::int64_t latency;
        std::int64_t confirmAt;  // when the program's "Y" arrives; the version line left at
                                 // 10 + latency
        bool hungUp;
    };
    for (const Case& c :
         {Case{0, 309, false}, Case{0, 310, true}, Case{16, 325, false}, Case{16, 326, true}}) {
        UnitBehaviour behaviour;
        behaviour.replyLatency = ms(c.latency);
        behaviour.hangupAtQuestion = ms(300);
        UnitDriver driver(behaviour);
        std::string said = driver.at(ms(10));
        said += driver.send("Y");
        said += driver.at(ms(10 + c.latency));
        EXPECT_EQ(said, "VKT5\r\nVKT5 V1.001\r\n");
        EXPECT_EQ(driver.unit.nextDue(), ms(310 + c.latency));
        driver.at(ms(c.confirmAt));
        std::string answer = driver.send("Y");
        answer += driver.after(ms(100));
        EXPECT_EQ(driver.unit.hangupRequested(), c.hungUp) << c.confirmAt;
        EXPECT_EQ(answer, c.hungUp ? "" : "E or P?\r\n") << c.confirmAt;
        // Once confirmed, the question is over.
        EXPECT_EQ(driver.after(ms(10'000)), "");
        EXPECT_EQ(driver.unit.hangupRequested(), c.hungUp);
    }
}

TEST(UnitProtocolTest, SilentUnitSaysNothingAndCountsWhatItGets) {
    UnitBehaviour behaviour;
    behaviour.silent = true;
    UnitDriver driver(behaviour);
    EXPECT_EQ(driver.at(ms(1000)), "");
    EXPECT_EQ(driver.send("Y"), "");
    EXPECT_EQ(driver.unit.nextDue(), std::nullopt);
    EXPECT_EQ(driver.unit.tally().protocolErrors, 1u);
    EXPECT_EQ(driver.unit.tally().bytesReceived, 1u);
}

TEST(UnitProtocolTest, SilentAfterIdentAnswersTheIdentificationWithNothing) {
    UnitBehaviour behaviour;
    behaviour.silentAfterIdent = true;
    UnitDriver driver(behaviour);
    EXPECT_EQ(driver.at(ms(0)), "VKT5\r\n");
    EXPECT_EQ(driver.send("Y"), "");
    EXPECT_EQ(driver.unit.state(), UnitState::Silent);
    // The identification lines stop as well.
    EXPECT_EQ(driver.after(ms(10'000)), "");
    EXPECT_EQ(driver.unit.nextDue(), std::nullopt);
    EXPECT_EQ(driver.unit.tally().protocolErrors, 0u);
    driver.send("Y");
    EXPECT_EQ(driver.unit.tally().protocolErrors, 1u);
}

TEST(UnitProtocolTest, StreamGarbageNeverEndsALineAndKeepsItsRate) {
    UnitBehaviour behaviour;
    behaviour.streamGarbage = true;
    behaviour.garbageRate = 1234;
    UnitDriver driver(behaviour);
    EXPECT_EQ(driver.at(ms(0)), "VKT5\r\n");
    std::string stream = driver.send("Y");
    EXPECT_EQ(driver.unit.state(), UnitState::Streaming);
    EXPECT_EQ(driver.unit.nextDue(), ms(10));
    // One step at once, then one every 10 ms: a second's worth over the first 100 steps.
    EXPECT_EQ(stream.size(), 12u);
    while (driver.now < ms(990)) {
        stream += driver.after(ms(10));
    }
    EXPECT_EQ(stream.size(), 1234u);
    EXPECT_EQ(stream.find_first_of("\r\n*"), std::string::npos);
    std::string expected;
    while (expected.size() < stream.size()) {
        expected += GARBAGE_TEXT;
    }
    EXPECT_EQ(stream, expected.substr(0, stream.size()));
    // A stall does not turn into one huge burst.
    EXPECT_LE(driver.at(ms(60'000)).size(), 2 * 13u);
    EXPECT_EQ(driver.unit.tally().protocolErrors, 0u);
    driver.send("Y");
    EXPECT_EQ(driver.unit.tally().protocolErrors, 1u);
}

// Everything the unit says at one moment leaves in one takeDue(), which the simulator writes to
// the terminal in one write: the echo, noise and stray bytes share the write of their prompt.
TEST(UnitProtocolTest, PromptShapes) {
    const std::string record = smallImageLines()[0];
    const std::string stray(STRAY_BYTES);
    struct Case {
        bool starCrLf;
        bool echo;
        bool stray;
        bool noise;  // with a gap of 0
        std::string afterP;
        std::string afterRecord;
    };
    const std::vector<Case> cases = {
        {true, false, false, false, "*\r\n", "*\r\n"},
        {false, true, false, false, "*", record + "\r\n*"},
        {true, true, false, false, "*\r\n", record + "\r\n*\r\n"},
        {false, false, true, false, stray + "*", stray + "*"},
        {true, false, true, false, stray + "*\r\n", stray + "*\r\n"},
        {false, true, true, true, NOISE + stray + "*", record + "\r\n" + NOISE + stray + "*"},
    };
    for (const Case& c : cases) {
        UnitBehaviour behaviour;
        behaviour.starCrLf = c.starCrLf;
        behaviour.echo = c.echo;
        behaviour.strayBeforePrompt = c.stray;
        behaviour.noise = c.noise;
        behaviour.noiseGap = ms(0);
        UnitDriver driver(behaviour);
        driver.at(ms(0));
        for (const char letter : std::string_view("YYEY")) {
            driver.send(std::string(1, letter));
        }
        EXPECT_EQ(driver.send("P"), c.afterP);
        EXPECT_EQ(driver.send(record + "\r\n"), c.afterRecord);
        EXPECT_EQ(driver.unit.tally().protocolErrors, 0u);
    }
}

TEST(UnitProtocolTest, NoiseWithNoGapSharesTheWriteOfEveryAwaitedLine) {
    UnitBehaviour behaviour;
    behaviour.noise = true;
    behaviour.noiseGap = ms(0);
    UnitDriver driver(behaviour);
    driver.at(ms(0));
    EXPECT_EQ(driver.send("Y"), "VKT5 V1.001\r\n");
    for (const auto& [letter, line] : std::vector<std::pair<std::string, std::string>>{
             {"Y", "E or P?\r\n"}, {"E", "Erased\r\n"}, {"Y", "E or P?\r\n"}, {"P", "*"}}) {
        EXPECT_EQ(driver.send(letter), NOISE + line) << letter;
    }
    EXPECT_EQ(driver.send(smallImageLines()[0] + "\r\n"), NOISE + "*");
    EXPECT_EQ(driver.unit.tally().protocolErrors, 0u);
}

TEST(UnitProtocolTest, EchoGoesOutAtOnceAndThePromptAfterTheRecordDelay) {
    UnitBehaviour behaviour;
    behaviour.echo = true;
    behaviour.recordDelay = ms(30);
    UnitDriver driver(behaviour);
    driver.reachProgramming();
    const std::string record = smallImageLines()[0];
    EXPECT_EQ(driver.send(record + "\r\n"), record + "\r\n");
    EXPECT_EQ(driver.after(ms(29)), "");
    EXPECT_EQ(driver.after(ms(1)), "*");
}

TEST(UnitProtocolTest, DelaysHoldTheirAnswers) {
    UnitBehaviour behaviour;
    behaviour.eraseDelay = ms(500);
    behaviour.recordDelay = ms(20);
    behaviour.replyLatency = ms(16);
    UnitDriver driver(behaviour);
    EXPECT_EQ(driver.at(ms(15)), "");
    EXPECT_EQ(driver.at(ms(16)), "VKT5\r\n");
    const auto answerAfter = [&driver](std::string_view bytes, std::int64_t wait,
                                       const std::string& expected) {
        driver.send(bytes);
        EXPECT_EQ(driver.after(ms(wait - 1)), "") << bytes;
        EXPECT_EQ(driver.after(ms(1)), expected) << bytes;
    };
    answerAfter("Y", 16, "VKT5 V1.001\r\n");
    answerAfter("Y", 16, "E or P?\r\n");
    answerAfter("E", 516, "Erased\r\n");
    answerAfter("Y", 16, "E or P?\r\n");
    answerAfter("P", 16, "*");
    answerAfter(smallImageLines()[0] + "\r\n", 36, "*");
    EXPECT_EQ(driver.unit.tally().protocolErrors, 0u);
}

// An adapter holding the unit's bytes delivers identification lines that left the unit before
// the program's "Y" after it: the program sees "VKT5" again before the version line.
TEST(UnitProtocolTest, LatencyDeliversIdentificationLinesSentBeforeTheAnswerAfterIt) {
    UnitBehaviour behaviour;
    behaviour.identInterval = ms(10);
    behaviour.replyLatency = ms(20);
    UnitDriver driver(behaviour);
    EXPECT_EQ(driver.at(ms(19)), "");
    EXPECT_EQ(driver.at(ms(20)), "VKT5\r\n");  // left the unit at 0
    // The program answers at once; the line of 10 is still in the adapter, and the unit sent
    // another at 20, just before the "Y" reached it at 21.
    driver.at(ms(21));
    EXPECT_EQ(driver.send("Y"), "");
    EXPECT_EQ(driver.at(ms(30)), "VKT5\r\n");
    EXPECT_EQ(driver.at(ms(40)), "VKT5\r\n");
    EXPECT_EQ(driver.at(ms(41)), "VKT5 V1.001\r\n");
    EXPECT_EQ(driver.after(ms(1000)), "");
    EXPECT_EQ(driver.unit.tally().protocolErrors, 0u);
}

TEST(UnitProtocolTest, NoiseLinesFallBetweenIdentificationLinesAndBeforePrompts) {
    UnitBehaviour behaviour;
    behaviour.noise = true;
    behaviour.noiseGap = ms(40);
    UnitDriver driver(behaviour);
    EXPECT_EQ(driver.at(ms(0)), "VKT5\r\n");
    EXPECT_EQ(driver.at(ms(50)), NOISE);
    EXPECT_EQ(driver.at(ms(100)), "VKT5\r\n");
    // The version line comes at once: it is the first line after "Y", whatever it says.
    EXPECT_EQ(driver.send("Y"), "VKT5 V1.001\r\n");
    EXPECT_EQ(driver.after(ms(1000)), "");
    const auto promptedAfterNoise = [&driver](std::string_view bytes, const std::string& prompt) {
        EXPECT_EQ(driver.send(bytes), NOISE) << bytes;
        EXPECT_EQ(driver.after(ms(39)), "") << bytes;
        EXPECT_EQ(driver.after(ms(1)), prompt) << bytes;
    };
    promptedAfterNoise("Y", "E or P?\r\n");
    promptedAfterNoise("E", "Erased\r\n");
    promptedAfterNoise("Y", "E or P?\r\n");
    promptedAfterNoise("P", "*");
    promptedAfterNoise(smallImageLines()[0] + "\r\n", "*");
    EXPECT_EQ(driver.unit.tally().protocolErrors, 0u);
    EXPECT_EQ(NOISE, std::string("\0\x7f~junk\r\n", 9));
}

// Every way a boot-up ends, then a fresh boot loader after --power-up-after, counted from the
// unit's last byte; the fault was the first boot-up's only, so the second takes a whole upload.
TEST(UnitProtocolTest, BootsAfreshAfterEveryWayOfEnding) {
    constexpr int ONLY_Y = -1;   // the program only answers the identification
    constexpr int NOTHING = -2;  // the program never writes
    struct Case {
        const char* name;
        void (*fault)(UnitBehaviour&);
        int records;  // records the program sends the first boot-up
        UnitState ended;
        std::int64_t quiet;  // ms from the program's last write to the unit's last byte
    };
    const std::vector<Case> cases = {
        {"completed", [](UnitBehaviour&) {}, 5, UnitState::Finished, 20},
        {"done", [](UnitBehaviour& b) { b.doneAfter = 2; }, 2, UnitState::Done, 20},
        {"silent after", [](UnitBehaviour& b) { b.silentAfter = 2; }, 2, UnitState::Mute, 0},
        {"hang-up after", [](UnitBehaviour& b) { b.hangupAfter = 2; }, 2, UnitState::HungUp, 0},
        {"silent after ident", [](UnitBehaviour& b) { b.silentAfterIdent = true; }, ONLY_Y,
         UnitState::Silent, 0},
        {"streaming", [](UnitBehaviour& b) { b.streamGarbage = true; }, ONLY_Y,
         UnitState::Streaming, 0},
        {"unplugged at the question", [](UnitBehaviour& b) { b.hangupAtQuestion = ms(300); },
         ONLY_Y, UnitState::HungUp, 300},
        {"silent", [](UnitBehaviour& b) { b.silent = true; }, NOTHING, UnitState::Silent, 0},
    };
    const std::vector<std::string> lines = smallImageLines();
    for (const Case& c : cases) {
        UnitBehaviour behaviour;
        behaviour.recordDelay = ms(20);
        behaviour.powerUpAfter = ms(500);
        c.fault(behaviour);
        UnitDriver driver(behaviour);
        driver.at(ms(0));
        if (c.records == ONLY_Y) {
            driver.send("Y");
        } else if (c.records >= 0) {
            driver.reachProgramming();
            for (int i = 0; i < c.records; ++i) {
                driver.after(ms(20));
                driver.send(lines[static_cast<std::size_t>(i)] + "\r\n");
            }
        }
        const SimTime lastWrite = driver.now;
        while (!driver.unit.ended() && driver.now < ms(5'000)) {
            driver.after(ms(1));
        }
        EXPECT_EQ(driver.unit.state(), c.ended) << c.name;
        const SimTime bootAt = lastWrite + ms(c.quiet) + ms(500);
        ASSERT_EQ(driver.unit.powerUpTime(), bootAt) << c.name;
        driver.at(bootAt - SimTime{1});
        EXPECT_EQ(driver.unit.boots(), 1u) << c.name;
        EXPECT_EQ(driver.at(bootAt), "VKT5\r\n") << c.name;
        EXPECT_EQ(driver.unit.boots(), 2u) << c.name;
        EXPECT_EQ(driver.unit.hangUps(), c.ended == UnitState::HungUp ? 1u : 0u) << c.name;

        driver.reachProgramming();
        for (const std::string& line : lines) {
            driver.after(ms(20));
            driver.send(line + "\r\n");
        }
        EXPECT_EQ(driver.unit.state(), UnitState::Finished) << c.name;
        EXPECT_EQ(driver.unit.tally().recordsReceived, lines.size()) << c.name;
        EXPECT_EQ(driver.unit.tally().protocolErrors, 0u) << c.name;
        EXPECT_EQ(driver.unit.flash().memory().size(), 20u) << c.name;
        EXPECT_EQ(driver.unit.flash().rewrittenBytes(), 0u) << c.name;
        EXPECT_EQ(driver.unit.unitsUpgraded(), c.ended == UnitState::Finished ? 2u : 1u) << c.name;
        const std::vector<BootSummary> boots = driver.unit.bootSummaries();
        ASSERT_EQ(boots.size(), 2u) << c.name;
        EXPECT_EQ(boots[0].state, c.ended) << c.name;
        EXPECT_EQ(boots[1].recordsReceived, lines.size()) << c.name;
    }
}

TEST(UnitProtocolTest, FlashOutlivesAPowerUpUntilTheNextErase) {
    UnitDriver driver;
    driver.reachProgramming();
    for (const std::string& line : smallImageLines()) {
        driver.send(line + "\r\n");
    }
    const HexMemory programmed = driver.unit.flash().memory();
    ASSERT_EQ(programmed.size(), 20u);
    // Without --power-up-after the unit stays finished until it is powered up by hand.
    EXPECT_EQ(driver.unit.powerUpTime(), std::nullopt);
    driver.after(ms(1000));
    driver.unit.powerUp(driver.now);
    EXPECT_EQ(driver.at(driver.now), "VKT5\r\n");
    driver.send("Y");
    driver.send("Y");
    EXPECT_EQ(driver.unit.flash().memory(), programmed);
    EXPECT_FALSE(driver.unit.tally().erased);
    driver.send("E");
    EXPECT_TRUE(driver.unit.flash().memory().empty());
}

TEST(UnitProtocolTest, UnitsLimitTheBootUpsAndFaultsRepeatOnlyWhenAsked) {
    for (const bool everyUnit : {false, true}) {
        UnitBehaviour behaviour;
        behaviour.hangupAfter = 0;
        behaviour.powerUpAfter = ms(100);
        behaviour.maxBoots = 3;
        behaviour.faultEveryUnit = everyUnit;
        UnitDriver driver(behaviour);
        for (std::uint64_t boot = 1; boot <= 3; ++boot) {
            EXPECT_EQ(driver.unit.boots(), boot);
            driver.reachProgramming();
            if (boot == 1 || everyUnit) {
                EXPECT_EQ(driver.unit.state(), UnitState::HungUp) << boot;
            } else {
                for (const std::string& line : smallImageLines()) {
                    driver.send(line + "\r\n");
                }
                EXPECT_EQ(driver.unit.state(), UnitState::Finished) << boot;
            }
            driver.after(ms(100));
        }
        EXPECT_EQ(driver.unit.boots(), 3u);
        EXPECT_EQ(driver.unit.powerUpTime(), std::nullopt);
        EXPECT_FALSE(driver.unit.canPowerUp());
        driver.unit.powerUp(driver.now);
        EXPECT_EQ(driver.unit.boots(), 3u);
        EXPECT_EQ(driver.unit.hangUps(), everyUnit ? 3u : 1u);
        EXPECT_EQ(driver.unit.unitsUpgraded(), everyUnit ? 0u : 2u);
    }
}

TEST(UnitProtocolTest, VersionLineShapes) {
    struct Case {
        bool withoutV;
        bool lower;
        const char* expected;
    };
    for (const Case& c : {Case{false, false, "VKT5 V1.001"}, Case{true, false, "VKT5 1.001"},
                          Case{false, true, "vkt5 v1.001"}, Case{true, true, "vkt5 1.001"}}) {
        EXPECT_EQ(shapeVersionLine("VKT5 V1.001", c.withoutV, c.lower), c.expected);
    }
    EXPECT_EQ(shapeVersionLine("no version here", true, false), "no version here");
}

}  // namespace
}  // namespace vkt5::sim
