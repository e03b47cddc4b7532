// The whole command-line run over scripted ports on a clock that moves one beat per wait: the
// units, the answers, Ctrl+C and the exit statuses, tick for tick.
#include "cli/cli_app.h"

#include <gtest/gtest.h>

#include <deque>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <tuple>

#include "fakes/scripted_port.h"
#include "fakes/scripted_unit.h"

namespace vkt5::cli {
namespace {

using test::PortOp;
using test::ScriptedPort;
using test::ScriptedUnit;
using test::UnitBehaviour;

std::string carriedImage() {
    std::ifstream file(VKT5_IMAGE_FILE, std::ios::binary);
    std::ostringstream bytes;
    bytes << file.rdbuf();
    return bytes.str();
}

class FakePlatform final : public CliPlatform {
  public:
    explicit FakePlatform(ScriptedPort& ports) : ports_(ports) {}

    std::int64_t nowMicros() override { return now_; }
    Wake wait(std::int64_t beatDue, const std::vector<std::intptr_t>&, bool wantInput) override {
        Wake wake;
        if (wantInput && !answers.empty()) {
            wake.input = true;
            return wake;
        }
        now_ = std::max(now_, beatDue);
        ports_.setTick(now_ / 15000);
        wake.beat = true;
        wake.interrupt = interruptAtTick.erase(ports_.tick()) != 0;
        return wake;
    }
    std::optional<std::string> readLine() override {
        if (answers.empty()) {
            return std::nullopt;
        }
        std::string line = answers.front();
        answers.pop_front();
        return line;
    }
    bool inputIsTerminal() override { return terminal; }
    bool outputIsTerminal() override { return false; }
    void out(std::string_view text) override { stdoutText += text; }
    void err(std::string_view text) override { stderrText += text; }
    std::string utcTime() override { return "2026-12-10T00:00:00Z"; }
    bool portWaits() const override { return false; }
    bool posix() const override { return true; }

    bool terminal = false;
    std::deque<std::string> answers;
    std::set<std::int64_t> interruptAtTick;
    std::string stdoutText;
    std::string stderrText;

  private:
    ScriptedPort& ports_;
    std::int64_t now_ = 0;
};

struct Bench {
    ScriptedPort ports;
    FakePlatform platform{ports};
    std::vector<std::string> csv;
    std::vector<std::unique_ptr<ScriptedUnit>> units;

    ScriptedUnit& unit(const std::string& name, UnitBehaviour behaviour = {}) {
        units.push_back(std::make_unique<ScriptedUnit>(ports, name, behaviour));
        units.back()->announce(1, 200000);
        return *units.back();
    }
    int run(std::vector<std::string> args) {
        const ParsedCli parsed = parseCliOptions(args, true);
        EXPECT_EQ(parsed.action, CliAction::Run) << parsed.error;
        static const std::string image = carriedImage();
        return runCli(parsed.options, platform, ports, image,
                      [this](const std::string& row) { csv.push_back(row); });
    }
    std::string sentTo(const std::string& name) { return ports.device(name).written; }
};

TEST(CliRun, YesUpgradesTheUnitAndLogsIt) {
    Bench bench;
    ScriptedUnit& unit = bench.unit("COM2");
    EXPECT_EQ(bench.run({"--yes"}), 0);  // found by the scan over COM1 to COM49
    EXPECT_EQ(unit.records.size(), 2263u);
    ASSERT_EQ(bench.csv.size(), 1u);
    EXPECT_EQ(bench.csv[0].rfind("2026-12-10T00:00:00Z,COM2,V1.001,V1.002,", 0), 0u);
    EXPECT_NE(bench.csv[0].find(",upgraded"), std::string::npos);
    EXPECT_NE(bench.platform.stdoutText.find("COM2: 50% (1132/2263 lines"), std::string::npos);
    EXPECT_NE(bench.platform.stdoutText.find("COM2  V1.001 -> V1.002  upgraded in"),
              std::string::npos);
    // Two beats per line, as the window, after the search (1 beat on COM1, 37 on COM2) and the
    // dialogue before the first line.
    EXPECT_NEAR(static_cast<double>(bench.ports.tick()), 1 + 37 + 2 * 2263 + 12, 5);
}

TEST(CliRun, SeveralPortsWithYesUpgradeAtOnceAndAFailureStopsNoOther) {
    Bench bench;
    UnitBehaviour endsEarly;
    endsEarly.doneAfterRecords = 50;
    bench.unit("COM1");
    bench.unit("COM2", endsEarly);
    bench.unit("COM3");
    bench.unit("COM4");
    EXPECT_EQ(bench.run({"--port", "COM1,COM2,COM3,COM4", "--yes"}), 3);
    for (const auto& unit : bench.units) {
        EXPECT_EQ(unit->records.size(), unit.get() == bench.units[1].get() ? 50u : 2263u);
    }
    // All at once: about the time one unit alone takes.
    EXPECT_LT(bench.ports.tick(), 37 + 37 + 2 * 2263 + 40);
    const std::string& out = bench.platform.stdoutText;
    const auto table = out.find("port  installed");
    ASSERT_NE(table, std::string::npos);
    EXPECT_NE(out.find("COM2  V1.001     V1.002         -  failed after 50/2263 lines: the unit "
                       "ended the programming early",
                       table),
              std::string::npos);
    EXPECT_NE(out.find("exit status 3", table), std::string::npos);
    EXPECT_EQ(bench.csv.size(), 4u);
}

TEST(CliRun, InfoSendsOnlyTheAnswerToTheIdentification) {
    Bench bench;
    bench.unit("COM1");
    bench.platform.terminal = false;  // no terminal needed for --info
    EXPECT_EQ(bench.run({"--port", "COM1", "--info", "--json"}), 0);
    EXPECT_EQ(bench.sentTo("COM1"), "Y");
    EXPECT_NE(bench.platform.stdoutText.find(
                  R"({"event":"found","port":"COM1","installed":"V1.001","new":"V1.002"})"),
              std::string::npos);
    EXPECT_NE(bench.platform.stdoutText.find(R"({"event":"end","exit_status":0})"),
              std::string::npos);
}

TEST(CliRun, TheQuestionOnTheTerminal) {
    for (const auto& [answer, status, sent] :
         std::vector<std::tuple<std::string, int, std::size_t>>{
             {"n", 1, 1}, {"", 1, 1}, {"yes", 0, 318180}, {" Y ", 0, 318180}}) {
        Bench bench;
        bench.unit("COM1");
        bench.platform.terminal = true;
        bench.platform.answers.push_back(answer);
        EXPECT_EQ(bench.run({"--port", "COM1"}), status) << answer;
        EXPECT_EQ(bench.sentTo("COM1").size(), sent) << answer;
        EXPECT_NE(
            bench.platform.stdoutText.find("Upgrade VKT-5 on COM1 from V1.001 to V1.002? [y/N] "),
            std::string::npos);
    }
}

TEST(CliRun, WithoutATerminalToAskNothingIsTouched) {
    Bench bench;
    bench.unit("COM1");
    EXPECT_EQ(bench.run({"--port", "COM1"}), 1);
    EXPECT_TRUE(bench.ports.callsOf(PortOp::Open).empty());
    EXPECT_NE(bench.platform.stderrText.find("--yes"), std::string::npos);
}

TEST(CliRun, NoUnitWithinTheTimeout) {
    Bench bench;
    bench.ports.device("COM1");  // a port that never says anything
    EXPECT_EQ(bench.run({"--port", "COM1,COM2", "--yes", "--timeout", "3"}), 2);
    EXPECT_NEAR(static_cast<double>(bench.ports.tick()), 200, 2);
    EXPECT_EQ(bench.sentTo("COM1"), "");
}

TEST(CliRun, CtrlCDuringTheUploadAsksAndLeavesOnlyWhenToldTo) {
    Bench bench;
    ScriptedUnit& unit = bench.unit("COM1");
    bench.platform.interruptAtTick = {1000};
    bench.platform.terminal = true;
    bench.platform.answers = {"y", "n"};  // the upgrade: yes; leave it half programmed: no
    EXPECT_EQ(bench.run({"--port", "COM1"}), 0);
    EXPECT_EQ(unit.records.size(), 2263u);
    EXPECT_NE(bench.platform.stdoutText.find("leave the unit half programmed? [y/N]"),
              std::string::npos);

    Bench leaving;
    ScriptedUnit& left = leaving.unit("COM1");
    leaving.platform.interruptAtTick = {1000, 1010};  // no terminal: the second Ctrl+C leaves
    EXPECT_EQ(leaving.run({"--port", "COM1", "--yes"}), 3);
    EXPECT_GT(left.records.size(), 400u);
    EXPECT_LT(left.records.size(), 500u);
    EXPECT_NE(leaving.platform.stdoutText.find("left half programmed"), std::string::npos);
}

TEST(CliRun, BenchModeTakesOneUnitAfterAnotherWithALineEach) {
    Bench bench;
    UnitBehaviour bootsAgain;
    bootsAgain.powerUpAfter = 20;
    bootsAgain.powerUps = 2;
    ScriptedUnit& unit = bench.unit("COM1", bootsAgain);
    // The same port powers up again as a fresh boot loader after each upload, twice. Ctrl+C
    // while waiting for a fourth ends the session.
    bench.platform.interruptAtTick = {3 * (2 * 2263 + 100) + 1000};
    EXPECT_EQ(bench.run({"--port", "COM1", "--yes", "--loop"}), 0);
    EXPECT_EQ(unit.records.size(), 3u * 2263u);
    EXPECT_EQ(bench.csv.size(), 3u);
    const std::string& out = bench.platform.stdoutText;
    EXPECT_NE(out.find("#3  2026-12-10T00:00:00Z  COM1  V1.001 -> V1.002  upgraded in"),
              std::string::npos);
    EXPECT_EQ(out.find("50%"), std::string::npos);  // one line per unit
}

TEST(CliRun, ListSaysWhatIsOnEveryPortAndSendsNothing) {
    Bench bench;
    bench.unit("COM2");
    bench.ports.device("COM3").refusedAs = PortState::NoPermission;
    bench.ports.device("COM4").busy = true;
    bench.ports.device("COM5");
    EXPECT_EQ(bench.run({"--port", "COM1,COM2,COM3,COM4,COM5", "--list"}), 0);
    EXPECT_EQ(bench.platform.stdoutText,
              "COM1                    absent\n"
              "COM2                    VKT-5 boot loader\n"
              "COM3                    no permission (join the dialout group: sudo adduser "
              "$USER dialout)\n"
              "COM4                    in use by another program\n"
              "COM5                    opened, no unit\n");
    EXPECT_TRUE(bench.ports.callsOf(PortOp::Send).empty());
}

}  // namespace
}  // namespace vkt5::cli
