// The simulator's smaller parts: the paced line, the flash and its outputs, the report and the
// command line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim_test_support.h"
#include "tools/unit_sim/line_pacer.h"
#include "tools/unit_sim/sim_flash.h"
#include "tools/unit_sim/sim_options.h"
#include "tools/unit_sim/sim_report.h"

namespace vkt5::sim {
namespace {

using testing::joinLines;
using testing::ms;
using testing::smallImageLines;
using testing::UnitDriver;

TEST(LinePacerTest, LongestRecordTakesItsTimeOnA57600Line) {
    LinePacer line;
    const std::string record(141, 'x');
    line.push(record, ms(10));
    const SimTime full = ms(10) + 141 * BYTE_TIME_57600_8N1;
    EXPECT_NEAR(static_cast<double>((full - ms(10)).count()) / 1e6, 24.48, 0.01);
    EXPECT_EQ(line.takeDue(ms(10)), "");
    EXPECT_EQ(line.takeDue(full - SimTime{1}).size(), 140u);
    EXPECT_EQ(line.nextDue(), full);
    EXPECT_EQ(line.takeDue(full), "x");
    EXPECT_TRUE(line.empty());
}

TEST(LinePacerTest, BytesPushedWhileBusyQueueAndAnIdleLineStartsAfresh) {
    LinePacer line(ms(1));
    line.push("ab", ms(0));
    line.push("c", ms(1));  // the line is still busy with "b"
    EXPECT_EQ(line.takeDue(ms(2)), "ab");
    EXPECT_EQ(line.takeDue(ms(3)), "c");
    line.push("d", ms(100));
    EXPECT_EQ(line.nextDue(), ms(101));
}

TEST(SimFlashTest, IntelHexAndBinaryOutputsHoldExactlyWhatWasWritten) {
    UnitDriver driver;
    driver.reachProgramming();
    for (const std::string& line : smallImageLines()) {
        driver.send(line + "\r\n");
    }
    const SimFlash& flash = driver.unit.flash();
    const DecodedHexImage reread = decodeHexImage(flash.toIntelHex());
    ASSERT_TRUE(reread.ok) << reread.error;
    EXPECT_EQ(reread.memory, flash.memory());

    // 0xFFF0..0x10003, no gap: the bank boundary is crossed by address, not by a fill.
    const std::vector<std::uint8_t> binary = flash.toBinary();
    ASSERT_EQ(binary.size(), 20u);
    EXPECT_EQ(binary.front(), 0xA0);
    EXPECT_EQ(binary[15], 0xAF);
    EXPECT_EQ(binary[16], 0x01);
    EXPECT_EQ(binary.back(), 0x04);
}

TEST(SimFlashTest, GapsReadAsErasedFlashAndRewritesAreCounted) {
    SimFlash flash;
    EXPECT_TRUE(flash.toBinary().empty());
    EXPECT_EQ(flash.toIntelHex(), ":00000001FF\r\n");
    EXPECT_EQ(flash.apply({HEX_DATA, 0x0010, {1, 2}}), "");
    EXPECT_EQ(flash.apply({HEX_DATA, 0x0014, {3}}), "");
    EXPECT_EQ(flash.apply({HEX_DATA, 0x0011, {9}}), "");
    EXPECT_EQ(flash.toBinary(), (std::vector<std::uint8_t>{1, 9, 0xFF, 0xFF, 3}));
    EXPECT_EQ(flash.rewrittenBytes(), 1u);
    EXPECT_NE(flash.apply({0x03, 0, {0, 0, 0, 0}}), "");
    EXPECT_NE(flash.apply({HEX_END_OF_FILE, 0, {1}}), "");
}

struct ReportFixture : ::testing::Test {
    ReferenceImage image() {
        std::string error;
        auto decoded = readReferenceImage(joinLines(smallImageLines()), &error);
        EXPECT_TRUE(decoded) << error;
        return decoded.value_or(ReferenceImage{});
    }
    std::string upload(const std::vector<std::string>& lines, const ReferenceImage& reference) {
        UnitDriver driver;
        driver.reachProgramming();
        for (const std::string& line : lines) {
            driver.after(ms(250));
            driver.send(line + "\r\n");
        }
        return formatReport({driver.unit, "eof", 1234, &reference});
    }
};

TEST_F(ReportFixture, CompleteUploadReportsEverything) {
    const ReferenceImage reference = image();
    EXPECT_EQ(reference.lines, smallImageLines());
    const std::string report = upload(smallImageLines(), reference);
    EXPECT_EQ(report,
              "end_reason: eof\n"
              "state: finished\n"
              "boot_ups: 1\n"
              "units: 1\n"
              "records_received: 5\n"
              "bad_records: 0\n"
              "protocol_errors: 0\n"
              "erased: yes\n"
              "eof_seen: yes\n"
              "bytes_received: " +
                  std::to_string(5 + joinLines(smallImageLines()).size()) +
                  "\n"
                  "bytes_sent: 1234\n"
                  "program_time: 0.004\n"
                  "first_record_time: 0.255\n"
                  "last_record_time: 1.255\n"
                  "upload_seconds: 1.251\n"
                  "flash_bytes: 20\n"
                  "flash_low: 0x0FFF0\n"
                  "flash_high: 0x10003\n"
                  "rewritten_bytes: 0\n"
                  "image_records: 5\n"
                  "flash_matches_image: yes\n"
                  "records_in_order: yes\n"
                  "boot: 1 finished records=5 erased=yes eof=yes\n");
}

TEST_F(ReportFixture, ComparisonTellsOrderFromContent) {
    const ReferenceImage reference = image();
    std::vector<std::string> lines = smallImageLines();
    struct Case {
        const char* name;
        std::vector<std::string> sent;
        bool matches;
        bool inOrder;
    };
    std::vector<std::string> swapped = lines;  // same bytes land at the same addresses
    std::swap(swapped[0], swapped[1]);
    std::vector<std::string> repeated = lines;
    repeated.insert(repeated.begin() + 2, lines[1]);
    std::vector<std::string> lost = lines;
    lost.erase(lost.begin() + 3);
    const std::vector<Case> cases = {
        {"first lines only", {lines[0], lines[1]}, false, true},
        {"swapped", swapped, true, false},
        {"a line repeated", repeated, true, false},
        {"a line lost", lost, false, false},
    };
    for (const Case& c : cases) {
        const std::string report = upload(c.sent, reference);
        EXPECT_NE(report.find(std::string("flash_matches_image: ") + (c.matches ? "yes" : "no")),
                  std::string::npos)
            << c.name << "\n"
            << report;
        EXPECT_NE(report.find(std::string("records_in_order: ") + (c.inOrder ? "yes" : "no")),
                  std::string::npos)
            << c.name << "\n"
            << report;
    }
}

TEST_F(ReportFixture, ProblemsAppearAsNotes) {
    UnitDriver driver;
    driver.at(ms(0));
    driver.send("Q");
    const std::string report = formatReport({driver.unit, "signal", 0, nullptr});
    EXPECT_NE(report.find("protocol_errors: 1\n"), std::string::npos);
    EXPECT_NE(report.find("note: unexpected byte 'Q' (0x51) in state identifying\n"),
              std::string::npos)
        << report;
    EXPECT_NE(report.find("upload_seconds: none\n"), std::string::npos);
    EXPECT_EQ(report.find("flash_matches_image"), std::string::npos);
}

TEST(SimOptionsTest, EveryOptionReachesItsField) {
    const ParsedOptions parsed = parseSimOptions({"--link",
                                                  "/tmp/l",
                                                  "--ident-interval=250",
                                                  "--version-line",
                                                  "VKT5 V9.9",
                                                  "--version-lower",
                                                  "--version-no-v",
                                                  "--erase-delay",
                                                  "700",
                                                  "--record-delay=3",
                                                  "--reply-latency",
                                                  "16",
                                                  "--baud-pace",
                                                  "--noise",
                                                  "--noise-gap",
                                                  "20",
                                                  "--star-crlf",
                                                  "--stray-before-prompt",
                                                  "--echo",
                                                  "--done-after",
                                                  "5",
                                                  "--silent-after",
                                                  "6",
                                                  "--hangup-after",
                                                  "0",
                                                  "--silent-after-ident",
                                                  "--hangup-at-question",
                                                  "1500",
                                                  "--power-up-after=250",
                                                  "--units",
                                                  "3",
                                                  "--fault-every-unit",
                                                  "--stream-garbage",
                                                  "--garbage-rate=200000",
                                                  "--report",
                                                  "r.txt",
                                                  "--flash-hex",
                                                  "f.hex",
                                                  "--flash-bin",
                                                  "f.bin",
                                                  "--compare-image",
                                                  "i.hex",
                                                  "--exit-after-eof",
                                                  "--exit-on-close",
                                                  "--exit-after-ms",
                                                  "90000",
                                                  "--verbose",
                                                  "--silent"});
    ASSERT_TRUE(parsed.options) << parsed.error;
    const SimOptions& o = *parsed.options;
    EXPECT_EQ(o.linkPath, "/tmp/l");
    EXPECT_EQ(o.unit.identInterval, ms(250));
    EXPECT_EQ(o.unit.versionLine, "vkt5 9.9");
    EXPECT_EQ(o.unit.eraseDelay, ms(700));
    EXPECT_EQ(o.unit.recordDelay, ms(3));
    EXPECT_EQ(o.unit.replyLatency, ms(16));
    EXPECT_TRUE(o.baudPace);
    EXPECT_TRUE(o.unit.noise);
    EXPECT_EQ(o.unit.noiseGap, ms(20));
    EXPECT_TRUE(o.unit.starCrLf);
    EXPECT_TRUE(o.unit.strayBeforePrompt);
    EXPECT_TRUE(o.unit.echo);
    EXPECT_TRUE(o.unit.silent);
    EXPECT_EQ(o.unit.doneAfter, 5u);
    EXPECT_EQ(o.unit.silentAfter, 6u);
    EXPECT_EQ(o.unit.hangupAfter, 0u);
    EXPECT_TRUE(o.unit.silentAfterIdent);
    EXPECT_EQ(o.unit.hangupAtQuestion, ms(1500));
    EXPECT_EQ(o.unit.powerUpAfter, ms(250));
    EXPECT_EQ(o.unit.maxBoots, 3u);
    EXPECT_TRUE(o.unit.faultEveryUnit);
    EXPECT_TRUE(o.unit.streamGarbage);
    EXPECT_EQ(o.unit.garbageRate, 200000u);
    EXPECT_EQ(o.reportPath, "r.txt");
    EXPECT_EQ(o.flashHexPath, "f.hex");
    EXPECT_EQ(o.flashBinPath, "f.bin");
    EXPECT_EQ(o.compareImagePath, "i.hex");
    EXPECT_TRUE(o.exitAfterEof);
    EXPECT_TRUE(o.exitOnClose);
    EXPECT_EQ(o.exitAfter, ms(90000));
    EXPECT_TRUE(o.verbose);
}

TEST(SimOptionsTest, DefaultsAndUsageErrors) {
    const ParsedOptions defaults = parseSimOptions({});
    ASSERT_TRUE(defaults.options);
    EXPECT_EQ(defaults.options->unit.versionLine, "VKT5 V1.001");
    EXPECT_EQ(defaults.options->unit.identInterval, ms(100));
    EXPECT_FALSE(defaults.options->unit.doneAfter);
    EXPECT_FALSE(defaults.options->unit.hangupAtQuestion);
    EXPECT_FALSE(defaults.options->unit.powerUpAfter);
    EXPECT_FALSE(defaults.options->unit.maxBoots);
    EXPECT_FALSE(defaults.options->exitAfter);
    EXPECT_EQ(defaults.options->unit.garbageRate, 5760u);

    const std::vector<std::vector<std::string>> bad = {
        {"--bogus"},
        {"--link"},
        {"--done-after", "-1"},
        {"--echo=yes"},
        {"--record-delay", "1.5"},
        {"--ident-interval", "0"},
        {"--version-line", "a\r\nb"},
        {"--exit-after-ms", "99999999999"},
        {"--garbage-rate", "0"},
        {"--units", "0"},
    };
    for (const auto& args : bad) {
        const ParsedOptions parsed = parseSimOptions(args);
        EXPECT_FALSE(parsed.options) << args[0];
        EXPECT_FALSE(parsed.error.empty()) << args[0];
    }
    const ParsedOptions help = parseSimOptions({"--help"});
    EXPECT_FALSE(help.options);
    EXPECT_TRUE(help.error.empty());
}

}  // namespace
}  // namespace vkt5::sim
