#include "ui/phase_screens.h"

#include <algorithm>
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

// The free space right of the logo, between the prompt lines and the lower controls: three lines
// of the dialog font, wrapped at words within the client area. The prompts open with a blank;
// wrapped text cannot, so the rectangle starts a blank's width further right to line up with them.
constexpr Rect FAILURE_TEXT_RECT{179, 100, 316, 54};
// The search screen's note on why the unit is not found yet: the same free space, between the
// reset hint (bottom edge at y 93) and "Searching" (top edge at y 140), two lines of the font.
constexpr Rect SCAN_NOTE_RECT{175, 96, 320, 42};
// On the failure screen the buttons stand where Yes and No stood; under the upload bar (bottom
// edge at y 201) the warning's buttons sit a little lower.
constexpr Rect RETRY_RECT{170, 200, 94, 24};
constexpr Rect EXIT_RECT{280, 200, 94, 24};
constexpr std::int32_t WARNING_BUTTON_DROP = 8;

constexpr Rect dropped(Rect r) {
    return {r.x, r.y + WARNING_BUTTON_DROP, r.width, r.height};
}

std::string failureTitle(std::int32_t failure) {
    const std::string model(MODEL_NAME);
    switch (failure) {
        case EndedEarly:
            return " " + model + " ended the programming early";
        case SendFailed:
            return " A line could not be sent to " + model;
        default:
            return " " + model + " was disconnected";
    }
}

// Where the upgrade stood, and what that left in the unit.
std::string failurePlace(const UpgradeState& state) {
    if (state.phase == AwaitAnswer) {
        return " before the upgrade began";
    }
    if (state.step <= RequestProgram) {
        return " while erasing, before any line was sent";
    }
    const auto percent =
        static_cast<std::int64_t>(state.linesSent) * 100 / std::max(state.lineCount, 1);
    return " after " + std::to_string(state.linesSent) + " of " + std::to_string(state.lineCount) +
           " lines (" + std::to_string(percent) + "%)";
}

std::string failureAdvice(const UpgradeState& state) {
    const std::string unchanged =
        state.phase == AwaitAnswer ? "Nothing was changed. " : "The unit is not programmed. ";
    return unchanged + "Power-up VKT Unit while holding the Reset button, then click Retry.";
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
    dialog.addControl(ControlKind::Label, ID_SCAN_NOTE, state.scanNote, SCAN_NOTE_RECT,
                      STYLE_LABEL);
}

void showVersionPrompt(UpgradeState& state, DialogHost& dialog) {
    dialog.removeControl(ID_SCAN_PROGRESS);
    dialog.removeControl(ID_SEARCHING);
    dialog.removeControl(ID_EXIT);
    dialog.removeControl(ID_RESET_HINT);
    dialog.removeControl(ID_SCAN_NOTE);
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

namespace vkt5 {

void removeScreen(UpgradeState& state, DialogHost& dialog) {
    switch (state.phase) {
        case ScanPorts:
        case DrainInput:
        case ReadVersion:
            dialog.removeControl(ID_EXIT);
            dialog.removeControl(ID_SCAN_PROGRESS);
            dialog.removeControl(ID_RESET_HINT);
            dialog.removeControl(ID_SEARCHING);
            dialog.removeControl(ID_SCAN_NOTE);
            break;
        case AwaitAnswer:
            dialog.removeControl(ID_YES);
            dialog.removeControl(ID_NO);
            break;
        case Programming:
            if (state.silenceShown == 1) {
                hideSilenceWarning(state, dialog);
            }
            dialog.removeControl(ID_UPLOAD_PROGRESS);
            dialog.removeControl(ID_UPLOAD_TEXT);
            break;
        case Finished:
            dialog.removeControl(ID_OK);
            break;
        case Failed:
            dialog.removeControl(ID_RETRY);
            dialog.removeControl(ID_EXIT);
            dialog.removeControl(ID_FAILURE_TEXT);
            break;
        default:
            return;
    }
    dialog.removeControl(ID_PROMPT);
    dialog.removeControl(ID_PROMPT2);
}

void showFailureScreen(UpgradeState& state, DialogHost& dialog) {
    const std::string place = failurePlace(state);
    const std::string advice = failureAdvice(state);
    removeScreen(state, dialog);
    const std::int32_t labelWidth = state.dialogWidth - 12;
    dialog.addControl(ControlKind::Label, ID_PROMPT, failureTitle(state.failure),
                      promptRect(labelWidth), STYLE_LABEL);
    dialog.addControl(ControlKind::Label, ID_PROMPT2, place, {175, 75, labelWidth, 18},
                      STYLE_LABEL);
    dialog.addControl(ControlKind::Label, ID_FAILURE_TEXT, advice, FAILURE_TEXT_RECT, STYLE_LABEL);
    // Retry is added last, so it is the default: Enter tries again rather than leaving.
    dialog.addControl(ControlKind::PushButton, ID_EXIT, "Exit", EXIT_RECT, STYLE_BUTTON);
    dialog.addControl(ControlKind::PushButton, ID_RETRY, "Retry", RETRY_RECT, STYLE_BUTTON);
}

void showSilenceWarning(UpgradeState& state, DialogHost& dialog, std::int32_t seconds) {
    const std::string text = "No answer from " + std::string(MODEL_NAME) + " for " +
                             std::to_string(seconds) +
                             " s. Wait, or power it up again while holding the Reset button, "
                             "then click Retry.";
    dialog.addControl(ControlKind::Label, ID_FAILURE_TEXT, text, FAILURE_TEXT_RECT, STYLE_LABEL);
    dialog.addControl(ControlKind::PushButton, ID_EXIT, "Exit", dropped(EXIT_RECT), STYLE_BUTTON);
    dialog.addControl(ControlKind::PushButton, ID_RETRY, "Retry", dropped(RETRY_RECT),
                      STYLE_BUTTON);
    state.silenceShown = 1;
}

void hideSilenceWarning(UpgradeState& state, DialogHost& dialog) {
    dialog.removeControl(ID_RETRY);
    dialog.removeControl(ID_EXIT);
    dialog.removeControl(ID_FAILURE_TEXT);
    state.silenceShown = 0;
}

}  // namespace vkt5
