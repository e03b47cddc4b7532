// The sequencer in fast mode against the paced one. A small host loop plays what the Qt and Win32
// hosts do: scripted time moves in steps shorter than the beat; at each step the watched port, if
// ready, gets MSG_PORT_DATA (again while it stays ready, as a level-triggered wait would), and
// every `beat` steps a tick follows. Every handler call is kept with the port calls it made, so
// a test can say which event sent what.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "app/startup.h"
#include "app/upgrade_sequencer.h"
#include "fakes/recording_dialog.h"
#include "fakes/scripted_port.h"
#include "fakes/scripted_unit.h"

namespace vkt5 {
namespace {

using test::numberedImage;
using test::PortCall;
using test::PortOp;
using test::RecordingDialog;
using test::ScriptedPort;
using test::ScriptedUnit;
using test::UnitBehaviour;

constexpr std::intptr_t NO_WAIT = SerialPortService::NO_WAIT_HANDLE;
// More MSG_PORT_DATA than this at one instant means the host would spin on a ready handle.
constexpr int SPIN_LIMIT = 50;

struct Event {
    std::uint32_t message = 0;
    std::int32_t phaseAfter = 0;
    std::size_t firstCall = 0;  // port calls [firstCall, endCall) were made by this event
    std::size_t endCall = 0;
    std::size_t firstWatch = 0;  // likewise for watchPort calls
    std::size_t endWatch = 0;
};

struct PacedRun {
    ScriptedPort ports;
    RecordingDialog dialog;
    UpgradeState state;
    ScriptedUnit unit;
    UpgradeSequencer sequencer;
    Pacing pacing;
    std::int64_t beat;
    std::int64_t now = 0;
    std::int64_t beats = 0;
    std::vector<Event> events;
    std::vector<std::size_t> dialogLogAtEvent;  // dialog log size before each event

    PacedRun(Pacing p, std::int64_t beatSteps, int lines = 300, UnitBehaviour b = {})
        : unit(ports, "COM3", b), sequencer(state, ports, dialog, p), pacing(p), beat(beatSteps) {
        EXPECT_TRUE(initialiseState(state, numberedImage(lines)));
        buildMainDialog(state, dialog);
        dialog.runMainDialog(sequencer);
        unit.announce(1, 400 * beat);
    }

    void send(std::uint32_t message, std::uintptr_t wParam = TICK_ID) {
        Event e{message, 0, ports.calls.size(), 0, dialog.watches.size(), 0};
        dialogLogAtEvent.push_back(dialog.log.size());
        sequencer.handleEvent(RecordingDialog::HANDLE, message, wParam, 0);
        e.phaseAfter = state.phase;
        e.endCall = ports.calls.size();
        e.endWatch = dialog.watches.size();
        events.push_back(e);
    }
    void command(std::int32_t id) { send(MSG_COMMAND, static_cast<std::uintptr_t>(id)); }

    // One step of scripted time: the port's readiness first, then the beat when it is due.
    void step() {
        ports.setTick(++now);
        int deliveries = 0;
        while (ports.ready(dialog.watching()) && deliveries < SPIN_LIMIT) {
            send(MSG_PORT_DATA, 0);
            ++deliveries;
        }
        EXPECT_LT(deliveries, SPIN_LIMIT) << "the host would spin at step " << now;
        if (now % beat == 0) {
            ++beats;
            send(MSG_TIMER);
        }
    }
    std::int64_t until(std::int32_t phase, std::int64_t limit = 200000) {
        while (state.phase != phase && now < limit) {
            step();
        }
        EXPECT_EQ(state.phase, phase);
        return now;
    }
    // To the question, Yes, and on until the phase.
    void upgradeUntil(std::int32_t phase) {
        until(AwaitAnswer);
        command(ID_YES);
        until(phase);
    }
    const std::string& wire() { return ports.device("COM3").written; }
    std::vector<std::string> sends() { return ports.device("COM3").sends; }
};

// What a run ends with, as the user and the unit see it.
struct Outcome {
    std::int32_t phase;
    std::int32_t failure;
    std::size_t records;
    std::string title;
    std::string place;
    bool portOpen;
    std::vector<std::string> controls;  // ids of the controls left on screen
    bool operator==(const Outcome&) const = default;
};

Outcome outcomeOf(PacedRun& r) {
    Outcome o{r.state.phase,
              r.state.failure,
              r.unit.records.size(),
              r.dialog.text(ID_PROMPT),
              r.dialog.text(ID_PROMPT2),
              r.ports.device("COM3").open,
              {}};
    for (const auto& [id, control] : r.dialog.controls) {
        o.controls.push_back(std::to_string(id) + " " + control.text);
    }
    return o;
}

TEST(FastPacing, CleanExchangeSendsTheSameBytesInTheSameOrderOneLinePerPrompt) {
    PacedRun paced(Pacing::Ticks, 1);
    paced.upgradeUntil(Finished);
    PacedRun fast(Pacing::Fast, 4);
    fast.upgradeUntil(Finished);

    EXPECT_EQ(fast.sends(), paced.sends());
    EXPECT_EQ(fast.unit.records, paced.unit.records);
    ASSERT_EQ(fast.unit.records.size(), 300u);
    EXPECT_EQ(fast.unit.records.back(), ":L299");
    EXPECT_EQ(outcomeOf(fast), outcomeOf(paced));
    // The unit answers one step after each send, so a line costs one step, not two beats.
    EXPECT_LT(fast.now, 310 + 40 * 4 + 60 * 4);
    EXPECT_GT(paced.now, 2 * 300);

    // Never a line ahead of its prompt: exactly one "*" came in between two image lines.
    int prompts = 0;
    int lines = 0;
    for (const PortCall& c : fast.ports.calls) {
        if (c.op == PortOp::Receive) {
            prompts += static_cast<int>(std::count(c.text.begin(), c.text.end(), '*'));
        } else if (c.op == PortOp::Send && c.text.size() > 2) {
            EXPECT_EQ(prompts, 1) << "before " << c.text;
            prompts = 0;
            ++lines;
        }
    }
    EXPECT_EQ(lines, 300);
}

// A sending step goes out in the very event whose bytes made it due; beats send nothing.
TEST(FastPacing, EachSendGoesOutWithTheAnswerThatMadeItDue) {
    PacedRun r(Pacing::Fast, 4);
    r.upgradeUntil(Finished);
    std::size_t checked = 0;
    for (const Event& e : r.events) {
        for (std::size_t i = e.firstCall; i < e.endCall; ++i) {
            if (r.ports.calls[i].op != PortOp::Send) {
                continue;
            }
            ++checked;
            if (e.message == MSG_COMMAND) {
                EXPECT_EQ(r.ports.calls[i].text, "Y");  // Yes confirms at once
                continue;
            }
            EXPECT_EQ(e.message, MSG_PORT_DATA) << r.ports.calls[i].text;
            bool answered = false;
            for (std::size_t j = e.firstCall; j < i; ++j) {
                answered = answered || (r.ports.calls[j].op == PortOp::Receive &&
                                        !r.ports.calls[j].text.empty());
            }
            EXPECT_TRUE(answered) << r.ports.calls[i].text;
        }
    }
    EXPECT_EQ(checked, r.sends().size());
    EXPECT_EQ(r.sends().size(), 5u + 300u);
}

// Scan, drain and the screen keep to the beat: the unit is found on the same beat as when paced,
// and the port's events never touch the window while the upload runs.
TEST(FastPacing, TheBeatStillDrivesScanAndScreen) {
    PacedRun paced(Pacing::Ticks, 1);
    PacedRun fast(Pacing::Fast, 1);
    EXPECT_EQ(paced.until(DrainInput), 39);
    EXPECT_EQ(fast.until(DrainInput), 39);
    EXPECT_EQ(fast.dialog.log, paced.dialog.log);

    fast.upgradeUntil(Finished);
    bool refreshed = false;
    for (std::size_t k = 0; k < fast.events.size(); ++k) {
        const Event& e = fast.events[k];
        const std::size_t logEnd =
            k + 1 < fast.events.size() ? fast.dialogLogAtEvent[k + 1] : fast.dialog.log.size();
        const bool touched = logEnd != fast.dialogLogAtEvent[k];
        if (e.message == MSG_PORT_DATA && e.phaseAfter == Programming) {
            EXPECT_FALSE(touched) << "event " << k;
        }
        refreshed = refreshed || (e.message == MSG_TIMER && touched);
    }
    EXPECT_TRUE(refreshed);
    EXPECT_EQ(fast.dialog.text(ID_PROMPT), " Programming was successful");
}

// The port is watched only while the dialogue listens; at the question, after the end and while
// scanning the host must not wait on it (an unread descriptor would wake it without end).
TEST(FastPacing, ThePortIsWatchedOnlyWhileTheDialogueListens) {
    PacedRun r(Pacing::Fast, 2);
    r.until(AwaitAnswer);
    for (int i = 0; i < 50; ++i) {
        r.step();  // the unit may go on talking; nobody is listening
    }
    r.ports.device("COM3").arriveAt(r.now + 1, "VKT5\r\n");
    r.step();
    r.step();
    EXPECT_EQ(r.dialog.watching(), NO_WAIT);
    r.command(ID_YES);
    r.until(Finished);
    EXPECT_EQ(r.dialog.watching(), NO_WAIT);

    const std::intptr_t unitHandle = ScriptedPort::WAIT_HANDLE_BASE + r.state.portFile;
    bool watched = false;
    for (const Event& e : r.events) {
        for (std::size_t i = e.firstWatch; i < e.endWatch; ++i) {
            const bool listens = e.phaseAfter == ReadVersion || e.phaseAfter == Programming;
            EXPECT_EQ(r.dialog.watches[i], listens ? unitHandle : NO_WAIT)
                << "phase " << e.phaseAfter;
            watched = watched || listens;
        }
        // Every event ends by saying what to watch, so the host never keeps a stale handle.
        if (e.message != MSG_INIT_DIALOG && e.message != MSG_SIZE) {
            EXPECT_GT(e.endWatch, e.firstWatch);
        }
    }
    EXPECT_TRUE(watched);

    PacedRun paced(Pacing::Ticks, 1);
    paced.upgradeUntil(Finished);
    EXPECT_TRUE(paced.dialog.watches.empty());
}

// Faults end the same in both pacings: the same phase, failure, screen and records, the port let
// go, nothing sent after the failure and nothing left watched.
TEST(FastPacing, FaultsEndAsWhenPaced) {
    struct Fault {
        const char* name;
        UnitBehaviour behaviour;
        std::function<void(PacedRun&)> inject;  // at Yes
    };
    UnitBehaviour done;
    done.doneAfterRecords = 100;
    UnitBehaviour crlfPrompt;
    crlfPrompt.prompt = "*\r\n";
    UnitBehaviour strayPrompt;
    strayPrompt.prompt = std::string("\0#*", 3);
    const auto afterRecords = [](int n, std::function<void(PacedRun&)> then) {
        return [n, then](PacedRun& r) {
            auto unitSend = r.ports.onSend;
            r.ports.onSend = [n, then, unitSend, &r](const std::string& name,
                                                     const std::string& bytes) {
                unitSend(name, bytes);
                if (static_cast<int>(r.unit.records.size()) == n && bytes.size() > 2) {
                    then(r);
                }
            };
        };
    };
    const std::vector<Fault> faults = {
        {"Done early", done, [](PacedRun&) {}},
        {"a send refused", {}, [](PacedRun& r) { r.ports.device("COM3").sendsAccepted = 5 + 99; }},
        {"hang-up after 100 records",
         {},
         afterRecords(100, [](PacedRun& r) { r.ports.device("COM3").hangUpTick = r.now; })},
        {"echo of every image line before its prompt",
         {},
         [](PacedRun& r) {
             auto unitSend = r.ports.onSend;
             r.ports.onSend = [unitSend, &r](const std::string& name, const std::string& bytes) {
                 if (bytes.size() > 2) {
                     r.ports.device("COM3").arriveAt(r.now, bytes);
                 }
                 unitSend(name, bytes);
             };
         }},
        {"noise lines throughout",
         {},
         [](PacedRun& r) {
             for (std::int64_t t = r.now; t < r.now + 3000; t += 7) {
                 r.ports.device("COM3").arriveAt(t, "\x01zz\r\n");
             }
         }},
        {"stray bytes before each prompt", strayPrompt, [](PacedRun&) {}},
        {"prompt with a line end", crlfPrompt, [](PacedRun&) {}},
    };
    for (const auto& f : faults) {
        SCOPED_TRACE(f.name);
        std::vector<Outcome> outcomes;
        for (const Pacing pacing : {Pacing::Ticks, Pacing::Fast}) {
            PacedRun r(pacing, pacing == Pacing::Fast ? 4 : 1, 200, f.behaviour);
            r.until(AwaitAnswer);
            r.command(ID_YES);
            f.inject(r);
            while (r.state.phase == Programming && r.now < 20000) {
                r.step();
            }
            const std::size_t sendsAtEnd = r.sends().size();
            for (int i = 0; i < 40; ++i) {
                r.step();
            }
            EXPECT_EQ(r.sends().size(), sendsAtEnd);
            EXPECT_EQ(r.dialog.watching(), NO_WAIT);
            outcomes.push_back(outcomeOf(r));
        }
        EXPECT_EQ(outcomes[1], outcomes[0]);
        EXPECT_NE(outcomes[0].phase, Programming);
    }
}

// Silence during the upload is counted in beats in fast mode too; the prompt that ends it sends
// the next line at once, and the next beat takes the warning away.
TEST(FastPacing, SilenceIsWarnedAfterTheSameBeatsAndTheNextPromptIsAnsweredAtOnce) {
    UnitBehaviour silent;
    silent.silentAfterRecords = 100;
    PacedRun r(Pacing::Fast, 4, 200, silent);
    r.until(AwaitAnswer);
    r.command(ID_YES);
    while (r.unit.records.size() < 100) {
        r.step();
    }
    const std::int64_t lastLine = r.beats;
    while (!r.dialog.has(ID_RETRY) && r.beats < lastLine + 2000) {
        r.step();
    }
    EXPECT_NEAR(static_cast<double>(r.beats - lastLine), SILENCE_TICKS, 2);
    EXPECT_EQ(r.dialog.watching(), ScriptedPort::WAIT_HANDLE_BASE + r.state.portFile);

    while (r.now % 4 != 1) {
        r.step();
    }
    r.ports.device("COM3").arriveAt(r.now + 1, "*");
    r.step();  // between beats
    EXPECT_EQ(r.unit.records.size(), 101u);
    EXPECT_TRUE(r.dialog.has(ID_RETRY));
    while (r.now % 4 != 0) {
        r.step();
    }
    EXPECT_FALSE(r.dialog.has(ID_RETRY));
    EXPECT_FALSE(r.dialog.has(ID_FAILURE_TEXT));
}

// A unit that goes quiet before its version is let go after the same beats in both pacings, and
// the scan goes on without the port being watched.
TEST(FastPacing, UnitSilentBeforeItsVersionIsLetGoAfterTheSameBeats) {
    std::vector<std::int64_t> beatsInReadVersion;
    for (const Pacing pacing : {Pacing::Ticks, Pacing::Fast}) {
        UnitBehaviour b;
        b.versionLine = "";
        PacedRun r(pacing, pacing == Pacing::Fast ? 3 : 1, 10, b);
        r.ports.onSend = nullptr;
        r.until(ReadVersion);
        const std::int64_t from = r.beats;
        while (r.state.phase == ReadVersion && r.now < 100000) {
            r.step();
        }
        beatsInReadVersion.push_back(r.beats - from);
        EXPECT_EQ(r.state.phase, ScanPorts);
        EXPECT_EQ(r.dialog.watching(), NO_WAIT);
        EXPECT_FALSE(r.ports.device("COM3").open);
    }
    EXPECT_EQ(beatsInReadVersion[1], beatsInReadVersion[0]);
    EXPECT_EQ(beatsInReadVersion[0], VERSION_WAIT_TICKS);
}

}  // namespace
}  // namespace vkt5
