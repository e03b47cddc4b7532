// The sequencer driven tick by tick against the scripted port, a scripted unit and the recording
// dialog: the whole typical run to the tick, the ends by Exit, No and OK, and the faults.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/startup.h"
#include "app/upgrade_sequencer.h"
#include "fakes/recording_dialog.h"
#include "fakes/scripted_port.h"
#include "fakes/scripted_unit.h"
#include "ui/phase_screens.h"

namespace vkt5 {
namespace {

using test::numberedImage;
using test::PortOp;
using test::RecordingDialog;
using test::ScriptedDevice;
using test::ScriptedPort;
using test::ScriptedUnit;
using test::UnitBehaviour;

struct UpgradeRun {
    ScriptedPort ports;
    RecordingDialog dialog;
    UpgradeState state;
    ScriptedUnit unit;
    UpgradeSequencer sequencer{state, ports, dialog};
    std::int64_t tick = 0;

    explicit UpgradeRun(int lines = 2263, const std::string& unitPort = "COM3",
                        UnitBehaviour b = {})
        : unit(ports, unitPort, b) {
        const std::string image = numberedImage(lines);
        EXPECT_TRUE(initialiseState(state, image));
        buildMainDialog(state, dialog);
        dialog.runMainDialog(sequencer);
    }

    std::intptr_t tickOnce(std::uintptr_t timerId = TICK_ID) {
        ports.setTick(++tick);
        return sequencer.handleEvent(RecordingDialog::HANDLE, MSG_TIMER, timerId, 0);
    }
    std::intptr_t command(std::int32_t id, std::uint32_t notification = 0) {
        return sequencer.handleEvent(RecordingDialog::HANDLE, MSG_COMMAND,
                                     (std::uintptr_t{notification} << 16) | std::uint16_t(id), 0);
    }
    // Ticks until the phase is reached; returns the tick on which it was reached.
    std::int64_t until(std::int32_t phase, std::int64_t limit = 20000) {
        while (state.phase != phase && tick < limit) {
            tickOnce();
        }
        EXPECT_EQ(state.phase, phase);
        return tick;
    }
    const std::string& wire() { return ports.device("COM3").written; }
};

TEST(Sequencer, InitShowsTheSearchScreenThenStartsTheTick) {
    UpgradeRun r;
    EXPECT_EQ(r.dialog.log[r.dialog.log.size() - 2], "start timer 1 15");
    EXPECT_EQ(r.dialog.log.back(), "shown");
    EXPECT_EQ(r.dialog.text(ID_SEARCHING), "Searching for VKT-5...");
    EXPECT_EQ(r.dialog.at(ID_SCAN_PROGRESS).position, 1);
    EXPECT_EQ(r.state.timerId, 1);
    EXPECT_TRUE(r.ports.calls.empty());  // nothing touches a port before the first tick
}

TEST(Sequencer, TypicalRunToTheTick) {
    UpgradeRun r;
    r.unit.announce(1, 400);
    // COM1 and COM2 are absent (ticks 1, 2); COM3 opens on tick 3 and is checked on tick 39.
    EXPECT_EQ(r.until(DrainInput), 39);
    EXPECT_EQ(r.dialog.at(ID_SCAN_PROGRESS).position, 3);  // the finding tick moves the bar too
    EXPECT_EQ(r.state.portNumber, 3);

    r.tickOnce();  // tick 40 drains, and nothing else
    EXPECT_EQ(r.state.phase, ReadVersion);
    EXPECT_EQ(r.state.step, StartDialogue);
    EXPECT_TRUE(r.wire().empty());

    const std::int64_t asked = r.until(AwaitAnswer);
    EXPECT_EQ(r.wire(), "Y");
    EXPECT_EQ(r.state.unitVersion, "V1.001");
    EXPECT_EQ(r.dialog.text(ID_PROMPT), " Would you like to upgrade V1.001");
    EXPECT_EQ(r.dialog.text(ID_PROMPT2), " to version V1.002?");
    EXPECT_EQ(r.dialog.defaultButton, ID_NO);

    // Waiting for the user costs nothing on the wire, however long it lasts.
    for (int i = 0; i < 100; ++i) {
        r.tickOnce();
    }
    EXPECT_EQ(r.state.phase, AwaitAnswer);
    for (const auto op : {PortOp::Receive, PortOp::Send}) {
        EXPECT_LE(r.ports.callsOf(op).back().tick, asked);  // only a look at the port's state
    }

    r.command(ID_YES);
    EXPECT_EQ(r.state.phase, Programming);
    EXPECT_EQ(r.wire(), "Y");  // Yes sends nothing itself
    EXPECT_EQ(r.dialog.text(ID_UPLOAD_TEXT), "");
    EXPECT_EQ(r.dialog.at(ID_UPLOAD_PROGRESS).high, 2263);

    r.tickOnce();
    EXPECT_EQ(r.wire(), "YY");  // the first Programming tick confirms

    const std::int64_t start = r.tick;
    r.until(Finished);
    EXPECT_EQ(r.wire().substr(0, 5), "YYEYP");
    ASSERT_EQ(r.unit.records.size(), 2263u);
    EXPECT_EQ(r.unit.records.front(), ":L0");
    EXPECT_EQ(r.unit.records.back(), ":L2262");
    EXPECT_EQ(r.state.linesSent, 2263);
    // Two ticks a line with a unit that answers on the next tick.
    EXPECT_EQ(r.tick - start, 2 * 2263 + 6);
    EXPECT_EQ(r.dialog.text(ID_PROMPT), " Programming was successful");
    EXPECT_EQ(r.dialog.text(ID_PROMPT2), " Click OK to Exit");
    EXPECT_FALSE(r.dialog.has(ID_UPLOAD_PROGRESS));
    EXPECT_FALSE(r.dialog.has(ID_UPLOAD_TEXT));
    EXPECT_EQ(r.dialog.defaultButton, ID_OK);

    const auto sendsAtFinish = r.ports.callsOf(PortOp::Send).size();
    r.tickOnce();
    r.tickOnce();
    EXPECT_EQ(r.ports.callsOf(PortOp::Send).size(), sendsAtFinish);

    r.command(ID_OK);
    EXPECT_TRUE(r.dialog.ended);
    EXPECT_FALSE(r.dialog.timerRunning);
    EXPECT_FALSE(r.ports.device("COM3").open);
}

// The bar shows the port that each scan tick ended on: the one just tried, the one being
// listened to, and after COM49 the wrap to COM1. The tick that finds the unit sets it as well.
TEST(Sequencer, ScanBarShowsThePortOfEveryScanTick) {
    UpgradeRun r(10, "COM2");
    r.unit.announce(90, 200);  // silent on the first pass: the walk goes round once
    std::vector<std::pair<std::int64_t, std::int32_t>> expected;  // (last tick, port) runs
    expected.emplace_back(1, 1);                                  // COM1 absent
    expected.emplace_back(38, 2);  // COM2 opens, settles and is checked
    for (std::int32_t port = 3; port <= 49; ++port) {
        expected.emplace_back(port + 36, port);  // absent, one tick each: ticks 39..85
    }
    expected.emplace_back(86, 1);
    expected.emplace_back(123, 2);  // opened on tick 87, found on tick 123
    std::size_t run = 0;
    while (r.state.phase == ScanPorts && r.tick < 200) {
        r.dialog.clearLog();
        r.tickOnce();
        while (run < expected.size() && expected[run].first < r.tick) {
            ++run;
        }
        ASSERT_LT(run, expected.size()) << "tick " << r.tick;
        const std::string shown = "position " + std::to_string(ID_SCAN_PROGRESS) + " " +
                                  std::to_string(expected[run].second);
        // The bar moves once a tick; the round's end may also change the search screen's note.
        std::vector<std::string> moves;
        for (const std::string& entry : r.dialog.log) {
            if (entry.rfind("text " + std::to_string(ID_SCAN_NOTE), 0) != 0) {
                moves.push_back(entry);
            }
        }
        ASSERT_EQ(moves, std::vector<std::string>{shown}) << "tick " << r.tick;
    }
    EXPECT_EQ(r.tick, 123);
    EXPECT_EQ(r.state.phase, DrainInput);
}

// What arrives between the check that found the unit and the dialogue's first look is read and
// thrown away on the one tick after the finding one, so that the dialogue starts on a clean line:
// here a whole identification and half of the next, which would otherwise spoil the line that
// follows them.
TEST(Sequencer, DrainTickDiscardsWhatArrivedSinceTheCheck) {
    UpgradeRun r(10, "COM3");
    auto& com3 = r.ports.device("COM3");
    com3.arriveAt(5, "VKT5\r\n");     // COM3 opens on tick 3 and is checked on tick 39
    com3.arriveAt(40, "VKT5\r\nVK");  // the drain tick
    com3.arriveAt(41, "VKT5\r\n");    // the dialogue's first tick, which only starts it
    EXPECT_EQ(r.until(DrainInput), 39);

    r.tickOnce();
    EXPECT_EQ(r.state.phase, ReadVersion);
    std::vector<std::pair<std::int64_t, std::string>> received;
    for (const auto& c : r.ports.callsOf(PortOp::Receive)) {
        received.emplace_back(c.tick, c.text);
    }
    const std::vector<std::pair<std::int64_t, std::string>> drained = {{39, "VKT5\r\n"},
                                                                       {40, "VKT5\r\nVK"}};
    EXPECT_EQ(received, drained);
    EXPECT_TRUE(com3.queue.empty());
    EXPECT_TRUE(r.state.rxBuffer.empty());

    // Tick 42 takes the clean identification of tick 41, tick 43 answers it.
    r.until(AwaitAnswer, 60);
    const auto sends = r.ports.callsOf(PortOp::Send);
    ASSERT_FALSE(sends.empty());
    EXPECT_EQ(sends.front().tick, 43);
    EXPECT_EQ(sends.front().text, "Y");
    EXPECT_EQ(r.state.unitVersion, "V1.001");
}

TEST(Sequencer, PercentagesFollowTheLinesSent) {
    UpgradeRun r;
    r.unit.announce(1, 400);
    r.until(AwaitAnswer);
    r.command(ID_YES);
    std::map<std::int32_t, std::string> shown;  // linesSent -> text, at each update
    while (r.state.phase == Programming && r.tick < 20000) {
        r.tickOnce();
        if (r.state.phase == Programming && r.dialog.has(ID_UPLOAD_TEXT) &&
            !r.dialog.text(ID_UPLOAD_TEXT).empty()) {
            shown[r.state.linesSent] = r.dialog.text(ID_UPLOAD_TEXT);
            EXPECT_EQ(r.dialog.at(ID_UPLOAD_PROGRESS).position, r.state.linesSent);
        }
    }
    EXPECT_EQ(shown.at(0), " Uploading firmware ...  0%");
    EXPECT_EQ(shown.at(1), " Uploading firmware ...  0%");
    EXPECT_EQ(shown.at(22), " Uploading firmware ...  0%");
    EXPECT_EQ(shown.at(23), " Uploading firmware ...  1%");
    EXPECT_EQ(shown.at(950), " Uploading firmware ...  41%");
    EXPECT_EQ(shown.rbegin()->first, 2262);
    EXPECT_EQ(shown.rbegin()->second, " Uploading firmware ...  99%");
    EXPECT_EQ(r.state.phase, Finished);
}

TEST(Sequencer, UploadTextStaysEmptyUntilTheUnitIsToldToProgram) {
    UpgradeRun r;
    r.unit.announce(1, 400);
    r.until(AwaitAnswer);
    r.command(ID_YES);
    while (r.state.step <= RequestProgram) {
        EXPECT_EQ(r.dialog.text(ID_UPLOAD_TEXT), "");
        EXPECT_EQ(r.dialog.at(ID_UPLOAD_PROGRESS).position, 0);
        r.tickOnce();
    }
    // The tick that sends "P" shows the first update.
    EXPECT_EQ(r.wire().back(), 'P');
    EXPECT_EQ(r.dialog.text(ID_UPLOAD_TEXT), " Uploading firmware ...  0%");
}

TEST(Sequencer, ExitNoAndOkEndTheDialog) {
    {
        SCOPED_TRACE("Exit while scanning");
        UpgradeRun r;
        r.tickOnce();
        r.command(ID_EXIT);
        EXPECT_TRUE(r.dialog.ended);
        EXPECT_EQ(r.dialog.log[r.dialog.log.size() - 2], "stop timer 1");
        EXPECT_TRUE(r.ports.callsOf(PortOp::Close).empty());
    }
    {
        SCOPED_TRACE("No at the question");
        UpgradeRun r;
        r.unit.announce(1, 400);
        r.until(AwaitAnswer);
        r.command(ID_NO);
        EXPECT_TRUE(r.dialog.ended);
        EXPECT_FALSE(r.ports.device("COM3").open);
        EXPECT_EQ(r.wire(), "Y");  // nothing after the version line
    }
}

TEST(Sequencer, OtherCommandsAndMessagesChangeNothingAndEveryMessageReturnsZero) {
    UpgradeRun r;
    r.tickOnce();
    const auto log = r.dialog.log;
    const auto calls = r.ports.calls.size();
    EXPECT_EQ(r.command(ID_CANCEL), 0);  // Escape
    EXPECT_EQ(r.command(ID_PROMPT), 0);  // a label's id
    for (std::uint32_t message : {0x10u /*close*/, 0x112u /*system command*/, 5u, 0x0Fu}) {
        EXPECT_EQ(r.sequencer.handleEvent(RecordingDialog::HANDLE, message, 0xF060, 0), 0);
    }
    EXPECT_EQ(r.dialog.log, log);
    EXPECT_EQ(r.ports.calls.size(), calls);
    EXPECT_EQ(r.state.phase, ScanPorts);
    EXPECT_EQ(r.tickOnce(77), 0);  // a timer message with any id is a tick
    EXPECT_GT(r.ports.calls.size(), calls);
}

TEST(Sequencer, CommandsCarryTheirNotificationCodeInTheHighBits) {
    UpgradeRun r;
    r.tickOnce();
    r.command(ID_EXIT, /*BN_CLICKED*/ 0);
    EXPECT_TRUE(r.dialog.ended);
    UpgradeRun r2;
    r2.command(ID_EXIT, 5);  // any notification code: the id is what counts
    EXPECT_TRUE(r2.dialog.ended);
}

// Faults during the upload: the failure screen says what happened and where, nothing more goes
// on the wire, the port is let go; Retry then finds the unit again and the upgrade completes.
TEST(Sequencer, FaultsDuringTheUploadShowTheFailureScreenAndRetryCompletes) {
    struct Fault {
        const char* name;
        UnitBehaviour behaviour;
        std::function<void(UpgradeRun&)> inject;
        std::size_t records;
        std::string title;
    };
    UnitBehaviour done;
    done.doneAfterRecords = 100;
    const std::vector<Fault> faults = {
        {"Done early", done, [](UpgradeRun&) {}, 100, " VKT-5 ended the programming early"},
        // The port takes the answers and 99 lines, then refuses: the 100th line did not go out.
        {"a send fails",
         {},
         [](UpgradeRun& r) { r.ports.device("COM3").sendsAccepted = 5 + 99; },
         99,
         " A line could not be sent to VKT-5"},
        {"hang-up",
         {},
         [](UpgradeRun& r) { r.ports.device("COM3").hangUpTick = r.tick + 2 * 100 + 8; },
         100,
         " VKT-5 was disconnected"},
    };
    for (const auto& f : faults) {
        SCOPED_TRACE(f.name);
        UpgradeRun r(200, "COM3", f.behaviour);
        r.unit.announce(1, 400);
        r.until(AwaitAnswer);
        r.command(ID_YES);
        f.inject(r);
        const std::int64_t failedAt = r.until(Failed, r.tick + 1000);
        const auto sends = r.ports.callsOf(PortOp::Send).size();
        for (int i = 0; i < 100; ++i) {
            r.tickOnce();
        }
        EXPECT_EQ(r.ports.callsOf(PortOp::Send).size(), sends);
        EXPECT_EQ(r.unit.records.size(), f.records);
        EXPECT_EQ(r.dialog.text(ID_PROMPT), f.title);
        EXPECT_EQ(r.dialog.text(ID_PROMPT2), " after " + std::to_string(f.records) +
                                                 " of 200 lines (" + std::to_string(f.records / 2) +
                                                 "%)");
        EXPECT_FALSE(r.dialog.has(ID_UPLOAD_PROGRESS));
        EXPECT_FALSE(r.dialog.has(ID_OK));
        EXPECT_EQ(r.dialog.defaultButton, ID_RETRY);
        EXPECT_TRUE(r.dialog.has(ID_EXIT));
        EXPECT_FALSE(r.ports.device("COM3").open);
        EXPECT_LT(failedAt, r.tick);

        // The unit is powered up again with Reset held: a fresh boot loader on the same port.
        ScriptedDevice& port = r.ports.device("COM3");
        port.hungUp = false;
        port.hangUpTick.reset();
        port.sendsAccepted.reset();
        port.written.clear();
        ScriptedUnit fresh(r.ports, "COM3");
        fresh.announce(r.tick + 1, r.tick + 400);
        r.command(ID_RETRY);
        EXPECT_EQ(r.state.phase, ScanPorts);
        EXPECT_EQ(r.state.failure, NoFailure);
        EXPECT_EQ(r.state.lineCount, 200);
        EXPECT_EQ(r.dialog.text(ID_SEARCHING), "Searching for VKT-5...");
        EXPECT_FALSE(r.dialog.has(ID_RETRY));
        EXPECT_FALSE(r.dialog.has(ID_FAILURE_TEXT));
        EXPECT_EQ(r.dialog.defaultButton, ID_EXIT);
        r.until(AwaitAnswer, r.tick + 2000);
        r.command(ID_YES);
        r.until(Finished, r.tick + 2000);
        EXPECT_EQ(fresh.records.size(), 200u);
        EXPECT_EQ(r.dialog.text(ID_PROMPT), " Programming was successful");
    }
}

TEST(Sequencer, UnplugAtTheQuestionShowsTheFailureScreen) {
    UpgradeRun r;
    r.unit.announce(1, 400);
    r.until(AwaitAnswer);
    r.ports.device("COM3").hangUpTick = r.tick + 5;
    r.until(Failed, r.tick + 10);
    EXPECT_EQ(r.wire(), "Y");
    EXPECT_FALSE(r.dialog.has(ID_YES));
    EXPECT_FALSE(r.dialog.has(ID_NO));
    EXPECT_EQ(r.dialog.text(ID_PROMPT), " VKT-5 was disconnected");
    EXPECT_EQ(r.dialog.text(ID_PROMPT2), " before the upgrade began");
    r.command(ID_EXIT);
    EXPECT_TRUE(r.dialog.ended);
}

// Silence while a line is awaited is shown after 10 s, and the upload goes on when the unit
// speaks again.
TEST(Sequencer, SilenceDuringTheUploadIsShownAndGoesAwayWhenTheUnitSpeaks) {
    UnitBehaviour silent;
    silent.silentAfterRecords = 100;
    UpgradeRun r(200, "COM3", silent);
    r.unit.announce(1, 400);
    r.until(AwaitAnswer);
    r.command(ID_YES);
    while (r.unit.records.size() < 100) {
        r.tickOnce();
    }
    const std::int64_t lastSend = r.tick;
    while (!r.dialog.has(ID_RETRY) && r.tick < lastSend + 2000) {
        r.tickOnce();
    }
    EXPECT_NEAR(static_cast<double>(r.tick - lastSend), SILENCE_TICKS, 2);
    EXPECT_EQ(r.state.phase, Programming);
    EXPECT_EQ(r.dialog.text(ID_FAILURE_TEXT).substr(0, 29), "No answer from VKT-5 for 10 s");
    EXPECT_EQ(r.dialog.text(ID_UPLOAD_TEXT), " Uploading firmware ...  50%");
    EXPECT_EQ(r.dialog.defaultButton, ID_RETRY);
    EXPECT_TRUE(r.dialog.has(ID_UPLOAD_PROGRESS));

    r.ports.device("COM3").arriveAt(r.tick + 1, "*");
    r.tickOnce();  // the prompt
    EXPECT_FALSE(r.dialog.has(ID_RETRY));
    EXPECT_FALSE(r.dialog.has(ID_EXIT));
    EXPECT_FALSE(r.dialog.has(ID_FAILURE_TEXT));
    r.tickOnce();
    EXPECT_EQ(r.unit.records.size(), 101u);
}

TEST(Sequencer, RetryDuringSilenceStartsAgainAndExitLeaves) {
    UnitBehaviour silent;
    silent.silentAfterRecords = 10;
    for (const std::int32_t button : {ID_RETRY, ID_EXIT}) {
        UpgradeRun r(50, "COM3", silent);
        r.unit.announce(1, 400);
        r.until(AwaitAnswer);
        r.command(ID_YES);
        while (!r.dialog.has(ID_RETRY) && r.tick < 5000) {
            r.tickOnce();
        }
        // Powered up again with Reset held, as the warning asks: the unit repeats its
        // identification, which is no prompt, so the warning and its Retry stay.
        r.unit.announce(r.tick + 1, r.tick + 100);
        for (int i = 0; i < 100; ++i) {
            r.tickOnce();
        }
        EXPECT_TRUE(r.dialog.has(ID_RETRY));
        EXPECT_TRUE(r.dialog.has(ID_FAILURE_TEXT));
        r.command(button);
        EXPECT_FALSE(r.ports.device("COM3").open);
        if (button == ID_RETRY) {
            EXPECT_EQ(r.state.phase, ScanPorts);
            EXPECT_TRUE(r.dialog.has(ID_SCAN_PROGRESS));
            EXPECT_FALSE(r.dialog.has(ID_UPLOAD_PROGRESS));
            EXPECT_FALSE(r.dialog.ended);
        } else {
            EXPECT_TRUE(r.dialog.ended);
        }
    }
}

// Found, then silent before its version: after a few seconds the port is let go and the scan
// goes on, so the search screen says what is really happening.
TEST(Sequencer, UnitSilentDuringVersionReadIsLetGo) {
    UnitBehaviour b;
    b.versionLine = "";
    UpgradeRun r(10, "COM3", b);
    r.unit.announce(1, 40);  // announces, but never answers the "Y" with a line end
    r.ports.onSend = nullptr;
    const std::int64_t reading = r.until(ReadVersion);
    while (r.state.phase == ReadVersion && r.tick < reading + 1000) {
        r.tickOnce();
    }
    EXPECT_EQ(r.tick - reading, VERSION_WAIT_TICKS);
    EXPECT_EQ(r.state.phase, ScanPorts);
    EXPECT_FALSE(r.ports.device("COM3").open);
    r.tickOnce();
    EXPECT_EQ(r.state.portNumber, 4);  // on to the next port
    EXPECT_TRUE(r.dialog.has(ID_EXIT));
    r.command(ID_EXIT);
    EXPECT_TRUE(r.dialog.ended);
}

TEST(Sequencer, FailedTimerStartLeavesTheSearchScreenAndExitWorks) {
    RecordingDialog dialog;
    dialog.timerResult = 0;
    ScriptedPort ports;
    UpgradeState state;
    ASSERT_TRUE(initialiseState(state, numberedImage(3)));
    buildMainDialog(state, dialog);
    UpgradeSequencer sequencer(state, ports, dialog);
    dialog.runMainDialog(sequencer);
    EXPECT_EQ(state.timerId, 0);
    sequencer.onCommand(ID_EXIT);
    EXPECT_EQ(dialog.log[dialog.log.size() - 2], "stop timer 0");
    EXPECT_TRUE(dialog.ended);
}

// The search screen's note follows the reports of a whole round, and changes only at its end.
TEST(Sequencer, SearchNoteChangesOnlyWhenARoundEnds) {
    UpgradeRun r(10);  // the unit's port, COM3, is there but silent for now
    r.ports.device("COM2").refusedAs = PortState::NoPermission;
    r.ports.device("\\\\.\\COM12").refusedAs = PortState::InUse;
    // The note before and after the tick that ends a round (port 49, absent, is its last).
    const auto round = [&] {
        while (r.state.portNumber != 48) {
            r.tickOnce();
        }
        const std::string before = r.dialog.text(ID_SCAN_NOTE);
        r.tickOnce();
        return std::pair(before, r.dialog.text(ID_SCAN_NOTE));
    };
    const auto noteChanges = [&] {
        return std::count_if(r.dialog.log.begin(), r.dialog.log.end(), [](const std::string& line) {
            return line.rfind("text 102 ", 0) == 0;
        });
    };
    const std::string noPermission =
        " COM2: no permission - join the dialout group and log in again";
    EXPECT_EQ(round(), std::pair(std::string(), noPermission));

    // COM2 becomes free: COM12 is what counts now, from the end of the next round.
    r.ports.device("COM2").refusedAs.reset();
    EXPECT_EQ(round(), std::pair(noPermission, std::string(" COM12 is in use by another program")));
    EXPECT_EQ(noteChanges(), 2);
    round();  // the same facts again: nothing to set
    EXPECT_EQ(noteChanges(), 2);

    // The unit speaks: the question replaces the search screen, note and all.
    r.unit.announce(r.tick + 1, r.tick + 400);
    r.until(AwaitAnswer, r.tick + 400);
    EXPECT_FALSE(r.dialog.has(ID_SCAN_NOTE));
}

}  // namespace
}  // namespace vkt5
