#include "ui/phase_screens.h"

#include <string>

namespace vkt5 {

namespace {

constexpr Rect promptRect(std::int32_t width) {
    return {175, 50, width, 18};
}

std::string searchingText() {
    return "Searching for " + std::string(MODEL_NAME) + "...";
}
std::string connectText() {
    return "Connect " + std::string(MODEL_NAME) + " to a Serial or USB Port";
}

}  // namespace

std::string numberText(std::int32_t value) {
    return (value < 0 ? "-" : " ") + std::to_string(value < 0 ? -static_cast<std::int64_t>(value)
                                                              : static_cast<std::int64_t>(value));
}

void showSearchScreen(UpgradeState& state, DialogHost& dialog) {
    const std::int32_t labelWidth = state.dialogWidth - 12;
    dialog.addControl(ControlKind::PushButton, ID_EXIT, "Exit", {230, 200, 94, 24}, STYLE_BUTTON);
    dialog.addControl(ControlKind::ProgressBar, ID_SCAN_PROGRESS, "",
                      {200, 170, state.dialogWidth - 350, 4}, STYLE_PROGRESS_SMOOTH);
    dialog.setProgressRange(ID_SCAN_PROGRESS, 0, 50);
    dialog.setProgressPosition(ID_SCAN_PROGRESS, 1);
    dialog.addControl(ControlKind::Label, ID_PROMPT, connectText(), promptRect(labelWidth),
                      STYLE_LABEL);
    dialog.addControl(ControlKind::Label, ID_PROMPT2, "", {175, 75, labelWidth, 18}, STYLE_LABEL);
    dialog.addControl(ControlKind::Label, ID_RESET_HINT,
                      "Power-up VKT Unit while holding the Reset button", {175, 75, labelWidth, 18},
                      STYLE_LABEL);
    dialog.addControl(ControlKind::Label, ID_SEARCHING, searchingText(), {210, 140, labelWidth, 18},
                      STYLE_LABEL);
}

void showVersionPrompt(UpgradeState& state, DialogHost& dialog) {
    dialog.removeControl(ID_SCAN_PROGRESS);
    dialog.removeControl(ID_SEARCHING);
    dialog.removeControl(ID_EXIT);
    dialog.removeControl(ID_RESET_HINT);
    dialog.addControl(ControlKind::PushButton, ID_YES, "Yes", {170, 200, 94, 24}, STYLE_BUTTON);
    dialog.addControl(ControlKind::PushButton, ID_NO, "No", {280, 200, 94, 24}, STYLE_BUTTON);
    dialog.setControlText(ID_PROMPT, " Would you like to upgrade " + state.unitVersion);
    dialog.setControlText(ID_PROMPT2, " to version " + std::string(IMAGE_VERSION) + "?");
}

void showUploadScreen(UpgradeState& state, DialogHost& dialog) {
    dialog.removeControl(ID_YES);
    dialog.removeControl(ID_NO);
    dialog.addControl(ControlKind::Label, ID_UPLOAD_TEXT, "",
                      {140, 160, state.dialogWidth - 12, 18}, STYLE_LABEL);
    dialog.addControl(ControlKind::ProgressBar, ID_UPLOAD_PROGRESS, "",
                      {50, 185, state.dialogWidth - 100, 16}, STYLE_PROGRESS);
    dialog.setProgressRange(ID_UPLOAD_PROGRESS, 0, state.lineCount);
    dialog.setProgressPosition(ID_UPLOAD_PROGRESS, 0);
}

void refreshUploadProgress(UpgradeState& state, DialogHost& dialog) {
    dialog.setProgressPosition(ID_UPLOAD_PROGRESS, state.linesSent);
    // The product is formed in 64 bits: for an image of over 21 million lines the 32-bit product
    // would overflow; for every real image the result is the same.
    state.percent = static_cast<std::int32_t>(static_cast<std::int64_t>(state.linesSent) * 100 /
                                              state.lineCount);
    state.scratch = numberText(state.percent) + "%";
    dialog.setControlText(ID_UPLOAD_TEXT, " Uploading firmware ... " + state.scratch);
}

void showSuccessScreen(UpgradeState& /*state*/, DialogHost& dialog) {
    dialog.removeControl(ID_UPLOAD_PROGRESS);
    dialog.removeControl(ID_UPLOAD_TEXT);
    dialog.addControl(ControlKind::PushButton, ID_OK, "OK", {230, 200, 94, 24}, STYLE_BUTTON);
    dialog.setControlText(ID_PROMPT, " Programming was successful");
    dialog.setControlText(ID_PROMPT2, " Click OK to Exit");
}

}  // namespace vkt5
