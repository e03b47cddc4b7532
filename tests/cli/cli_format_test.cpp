#include "cli/cli_format.h"

#include <gtest/gtest.h>

namespace vkt5::cli {
namespace {

TEST(CliFormat, Durations) {
    EXPECT_EQ(formatDuration(0), "0:00");
    EXPECT_EQ(formatDuration(67.9), "1:08");
    EXPECT_EQ(formatDuration(3599.4), "59:59");
    EXPECT_EQ(formatDuration(3723), "1:02:03");
    EXPECT_EQ(formatDuration(-2), "0:00");
}

TEST(CliFormat, ProgressLineHasBarPercentLinesElapsedAndTimeLeft) {
    EXPECT_EQ(progressLine(0, 2263, 0.2, 10), "[..........]   0%  0/2263 lines  0:00 elapsed");
    // Half the lines in 34 s: as long again to go.
    EXPECT_EQ(progressLine(1131, 2262, 34, 10),
              "[#####.....]  50%  1131/2262 lines  0:34 elapsed  0:34 left");
    EXPECT_EQ(progressLine(2263, 2263, 68, 10), "[##########] 100%  2263/2263 lines  1:08 elapsed");
}

TEST(CliFormat, StepLinesAtEachTenPercent) {
    EXPECT_EQ(progressDecile(226, 2263), 0);
    EXPECT_EQ(progressDecile(227, 2263), 1);
    EXPECT_EQ(progressDecile(2263, 2263), 10);
    EXPECT_EQ(progressDecile(5, 0), 0);
    EXPECT_EQ(progressStepLine("COM3", 906, 2263, 27.2), "COM3: 40% (906/2263 lines, 0:27)");
}

UnitRecord unit(std::string port, UnitResult result, double seconds = 0, std::int32_t sent = 0,
                std::string detail = {}) {
    UnitRecord record;
    record.port = std::move(port);
    record.installed = "V1.001";
    record.carried = "V1.002";
    record.result = result;
    record.seconds = seconds;
    record.linesSent = sent;
    record.lineCount = 2263;
    record.detail = std::move(detail);
    return record;
}

TEST(CliFormat, SummaryLines) {
    EXPECT_EQ(summaryLine(unit("COM3", UnitResult::Upgraded, 67.91)),
              "COM3  V1.001 -> V1.002  upgraded in 67.9 s");
    EXPECT_EQ(summaryLine(unit("COM4", UnitResult::Failed, 3, 50, "the unit was disconnected")),
              "COM4  V1.001 -> V1.002  failed after 50 of 2263 lines: the unit was disconnected");
    UnitRecord missing = unit("COM5", UnitResult::NotFound);
    missing.installed.clear();
    EXPECT_EQ(summaryLine(missing), "COM5  not found");
}

TEST(CliFormat, TableEndsWithTheWorstExitStatus) {
    const std::string table = summaryTable({unit("COM3", UnitResult::Upgraded, 68),
                                            unit("COM4", UnitResult::Failed, 1, 50, "lost"),
                                            unit("COM5", UnitResult::Upgraded, 68.2)});
    EXPECT_EQ(table,
              "port  installed  new      seconds  result\n"
              "COM3  V1.001     V1.002      68.0  upgraded\n"
              "COM4  V1.001     V1.002         -  failed after 50/2263 lines: lost\n"
              "COM5  V1.001     V1.002      68.2  upgraded\n"
              "exit status 3\n");
    EXPECT_NE(summaryTable({unit("COM3", UnitResult::Declined)}).find("exit status 1"),
              std::string::npos);
}

TEST(CliFormat, ExitStatuses) {
    EXPECT_EQ(exitStatusOf(UnitResult::Upgraded), 0);
    EXPECT_EQ(exitStatusOf(UnitResult::Shown), 0);
    EXPECT_EQ(exitStatusOf(UnitResult::Declined), 1);
    EXPECT_EQ(exitStatusOf(UnitResult::NotFound), 2);
    EXPECT_EQ(exitStatusOf(UnitResult::Failed), 3);
    EXPECT_EQ(exitStatusOf(UnitResult::Left), 3);
}

TEST(CliFormat, CsvRowsQuoteWhatNeedsIt) {
    EXPECT_EQ(csvHeader(), "time,port,installed,new,seconds,result\n");
    EXPECT_EQ(csvRow("2026-12-10T05:30:16Z", unit("COM3", UnitResult::Upgraded, 67.9051)),
              "2026-12-10T05:30:16Z,COM3,V1.001,V1.002,67.905,upgraded\n");
    UnitRecord odd = unit("/dev/odd,port", UnitResult::Failed, 0, 3, "said \"Done\"");
    odd.installed = "V1,\"9\"";
    EXPECT_EQ(csvRow("t", odd),
              "t,\"/dev/odd,port\",\"V1,\"\"9\"\"\",V1.002,0.000,\"failed: said \"\"Done\"\"\"\n");
}

TEST(CliFormat, JsonEventsEscapeEveryByte) {
    EXPECT_EQ(
        jsonEvent("progress",
                  {{"port", "COM3"}, {"lines", jsonNumber(12)}, {"seconds", jsonNumber(1.5)}}),
        R"({"event":"progress","port":"COM3","lines":12,"seconds":1.500})");
    EXPECT_EQ(jsonString(std::string("a\"b\\c\r\n\x01\xE9", 9)), R"("a\"b\\c\r\n\u0001\u00E9")");
    EXPECT_EQ(jsonEvent("end", {}), R"({"event":"end"})");
}

TEST(CliFormat, PortListLines) {
    EXPECT_EQ(portListLine("COM1", {PortState::Absent, "/dev/ttyUSB0"}, true),
              "COM1 (/dev/ttyUSB0)     absent");
    EXPECT_EQ(portListLine("/dev/pts/7", {PortState::Unit, "/dev/pts/7"}, true),
              "/dev/pts/7              VKT-5 boot loader");
    EXPECT_NE(portStateText(PortState::NoPermission, true).find("dialout"), std::string::npos);
    EXPECT_EQ(portStateText(PortState::NoPermission, false), "no permission");
    EXPECT_EQ(portStateText(PortState::InUse, true), "in use by another program");
    EXPECT_EQ(portStateText(PortState::NotTerminal, true), "not a serial line");
    EXPECT_EQ(portStateText(PortState::NoUnit, true), "opened, no unit");
}

}  // namespace
}  // namespace vkt5::cli
