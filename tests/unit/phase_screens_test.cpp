// Each screen is an exact sequence of control operations; the recording dialog's log is compared
// line for line, and the resulting window checked for what the user sees.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/upgrade_state.h"
#include "fakes/recording_dialog.h"
#include "ui/main_dialog.h"
#include "ui/phase_screens.h"

namespace vkt5 {
namespace {

using test::RecordingDialog;
using Log = std::vector<std::string>;

struct Screens {
    UpgradeState state;
    RecordingDialog dialog;
    Screens() {
        state.dialogWidth = 500;
        state.dialogHeight = 240;
        state.unitVersion = "V1.001";
        state.lineCount = 2263;
        showSearchScreen(state, dialog);
    }
};

TEST(PhaseScreens, BuildMainDialogPutsLogoAndBannerInPlace) {
    UpgradeState state;
    state.dialogWidth = 500;
    state.dialogHeight = 240;
    RecordingDialog dialog;
    buildMainDialog(state, dialog);
    EXPECT_EQ(dialog.log, (Log{"create \" Corvane    VKT-5    Phone 555-0142\" 500x240",
                               "icons 201", "add image 180 \"#202\" 5,8,150,150 0x50000000",
                               "add label 101 \"\" 175,8,488,18 0x12000", "font 101 Arial 12 700",
                               "color 101 0x8C0000 -1", "text 101 \"C o r v a n e\""}));
    EXPECT_EQ(state.dialog, RecordingDialog::HANDLE);
    EXPECT_EQ(state.largeFont, bannerFont());
}

TEST(PhaseScreens, SearchScreen) {
    Screens s;
    EXPECT_EQ(
        s.dialog.log,
        (Log{"add button 110 \"Exit\" 230,200,94,24 0x1",
             "add progress 107 \"\" 200,170,150,4 0x50000001", "range 107 0 50", "position 107 1",
             "add label 103 \"Connect VKT-5 to a Serial or USB Port\" 175,50,488,18 0x12000",
             "add label 104 \"\" 175,75,488,18 0x12000",
             "add label 115 \"Power-up VKT Unit while holding the Reset button\" "
             "175,75,488,18 0x12000",
             "add label 105 \"Searching for VKT-5...\" 210,140,488,18 0x12000",
             "add label 102 \"\" 175,96,320,42 0x12000"}));
    EXPECT_EQ(s.dialog.defaultButton, ID_EXIT);
}

TEST(PhaseScreens, VersionPromptThenUploadThenSuccess) {
    Screens s;
    s.dialog.clearLog();
    showVersionPrompt(s.state, s.dialog);
    EXPECT_EQ(s.dialog.log, (Log{"remove 107", "remove 105", "remove 110", "remove 115",
                                 "remove 102", "add button 111 \"Yes\" 170,200,94,24 0x1",
                                 "add button 112 \"No\" 280,200,94,24 0x1",
                                 "text 103 \" Would you like to upgrade V1.001\"",
                                 "text 104 \" to version V1.002?\""}));
    EXPECT_EQ(s.dialog.defaultButton, ID_NO);  // Enter answers No

    s.dialog.clearLog();
    showUploadScreen(s.state, s.dialog);
    EXPECT_EQ(s.dialog.log,
              (Log{"remove 111", "remove 112", "add label 106 \"\" 140,160,488,18 0x12000",
                   "add progress 108 \"\" 50,185,400,16 0x50000000", "range 108 0 2263",
                   "position 108 0"}));
    EXPECT_EQ(s.dialog.defaultButton, 0);  // no button on the upload screen

    s.dialog.clearLog();
    s.state.linesSent = 950;
    refreshUploadProgress(s.state, s.dialog);
    EXPECT_EQ(s.dialog.log, (Log{"position 108 950", "text 106 \" Uploading firmware ...  41%\""}));
    EXPECT_EQ(s.state.percent, 41);
    EXPECT_EQ(s.state.scratch, " 41%");

    s.dialog.clearLog();
    showSuccessScreen(s.state, s.dialog);
    EXPECT_EQ(s.dialog.log,
              (Log{"remove 108", "remove 106", "add button 113 \"OK\" 230,200,94,24 0x1",
                   "text 103 \" Programming was successful\"", "text 104 \" Click OK to Exit\""}));
    // What is left on the window.
    std::vector<std::int32_t> ids;
    for (const auto& [id, control] : s.dialog.controls) {
        ids.push_back(id);
    }
    EXPECT_EQ(ids, (std::vector<std::int32_t>{ID_PROMPT, ID_PROMPT2, ID_OK}));
    EXPECT_EQ(s.dialog.defaultButton, ID_OK);
}

TEST(PhaseScreens, NumberTextHasASignPosition) {
    EXPECT_EQ(numberText(0), " 0");
    EXPECT_EQ(numberText(99), " 99");
    EXPECT_EQ(numberText(-5), "-5");
    EXPECT_EQ(numberText(INT32_MIN), "-2147483648");
}

TEST(PhaseScreens, PercentagesTruncate) {
    Screens s;
    showVersionPrompt(s.state, s.dialog);
    showUploadScreen(s.state, s.dialog);
    for (const auto& [sent, text] : std::vector<std::pair<int, std::string>>{
             {0, " 0%"}, {22, " 0%"}, {23, " 1%"}, {1131, " 49%"}, {2262, " 99%"}}) {
        s.state.linesSent = sent;
        refreshUploadProgress(s.state, s.dialog);
        EXPECT_EQ(s.dialog.text(ID_UPLOAD_TEXT), " Uploading firmware ... " + text);
        EXPECT_EQ(s.dialog.at(ID_UPLOAD_PROGRESS).position, sent);
    }
}

}  // namespace
}  // namespace vkt5
