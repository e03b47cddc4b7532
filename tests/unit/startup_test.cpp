// Start-up: the state when the dialog starts to run, the order of the window's construction, and
// the refusal of an image with nothing to send.
#include <gtest/gtest.h>

#include <algorithm>

#include "app/startup.h"
#include "app/upgrade_sequencer.h"
#include "fakes/recording_dialog.h"
#include "fakes/scripted_port.h"

namespace vkt5 {
namespace {

using test::RecordingDialog;
using test::ScriptedPort;

TEST(StartUp, StateWhenTheDialogRuns) {
    UpgradeState state;
    ScriptedPort ports;
    RecordingDialog dialog;
    const std::string image = "A\r\nB\r\nC\r\n";
    EXPECT_EQ(startUp(state, image, dialog, ports), 0);

    EXPECT_EQ(state.phase, ScanPorts);
    EXPECT_EQ(state.step, StartDialogue);
    EXPECT_EQ(state.portNumber, 0);
    EXPECT_EQ(state.portFile, 0);
    EXPECT_EQ(state.portOpen + state.unitFound + state.versionKnown + state.lineReady, 0);
    EXPECT_EQ(state.identification, "VKT5\r\n");
    EXPECT_EQ(state.dialogWidth, 500);
    EXPECT_EQ(state.dialogHeight, 240);
    EXPECT_EQ(state.lineCount, 3);
    EXPECT_EQ(state.linesSent, 0);
    EXPECT_EQ(state.imageLines.size(), 7001u);
    EXPECT_EQ(state.scratch, image);  // the image text passed through scratch
    EXPECT_EQ(state.dialog, RecordingDialog::HANDLE);

    // The window is built before the run; the first screen and the tick are in place before the
    // window is shown.
    const auto& log = dialog.log;
    const auto at = [&](const std::string& entry) {
        return std::find(log.begin(), log.end(), entry) - log.begin();
    };
    EXPECT_LT(at("icons 201"), at("run"));
    EXPECT_LT(at("run"), at("start timer 1 15"));
    EXPECT_LT(at("start timer 1 15"), at("shown"));
    EXPECT_TRUE(dialog.has(ID_EXIT));
    EXPECT_TRUE(ports.calls.empty());
}

TEST(StartUp, ImageWithNothingToSendIsReportedAndNoWindowIsMade) {
    UpgradeState state;
    ScriptedPort ports;
    RecordingDialog dialog;
    EXPECT_EQ(startUp(state, std::nullopt, dialog, ports), 0);
    EXPECT_EQ(dialog.imageError, IMAGE_ERROR_TEXT);
    EXPECT_FALSE(dialog.created);
    EXPECT_TRUE(ports.calls.empty());

    RecordingDialog dialog2;
    EXPECT_EQ(startUp(state, std::string_view("no line end"), dialog2, ports), 0);
    EXPECT_FALSE(dialog2.created);
}

}  // namespace
}  // namespace vkt5
