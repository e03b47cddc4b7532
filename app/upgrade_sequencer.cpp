#include "app/upgrade_sequencer.h"

#include "firmware/boot_loader_dialogue.h"
#include "serial/port_scan.h"
#include "ui/phase_screens.h"

namespace vkt5 {

std::intptr_t UpgradeSequencer::handleEvent(WindowHandle /*dialog*/, std::uint32_t message,
                                            std::uintptr_t wParam, std::intptr_t /*lParam*/) {
    switch (message) {
        case MSG_INIT_DIALOG:
            onInit();
            break;
        case MSG_TIMER:
            onTick();
            break;
        case MSG_COMMAND:
            onCommand(static_cast<std::int32_t>(wParam & 0xFFFF));
            break;
        default:
            break;
    }
    // Not handled: the dialog's own handling follows for every message.
    return 0;
}

void UpgradeSequencer::onInit() {
    showSearchScreen(state_, dialog_);
    state_.timerId = dialog_.startTimer(TICK_ID, TICK_INTERVAL_MS);
}

void UpgradeSequencer::onTick() {
    switch (state_.phase) {
        case ScanPorts:
            scanTick(state_, ports_);
            if (state_.unitFound == 1) {
                state_.phase = DrainInput;
            }
            dialog_.setProgressPosition(ID_SCAN_PROGRESS, state_.portNumber);
            break;
        case DrainInput:
            drainInput(state_, ports_);
            state_.phase = ReadVersion;
            break;
        case ReadVersion:
            advanceDialogue(state_, ports_);
            if (state_.versionKnown == 1) {
                showVersionPrompt(state_, dialog_);
                state_.phase = AwaitAnswer;
            }
            break;
        case Programming:
            advanceDialogue(state_, ports_);
            if (state_.lineCount > state_.linesSent && state_.step > RequestProgram) {
                refreshUploadProgress(state_, dialog_);
            }
            if (state_.lineCount == state_.linesSent) {
                showSuccessScreen(state_, dialog_);
                state_.phase = Finished;
            }
            break;
        default:
            break;  // AwaitAnswer, Finished: the user decides
    }
}

void UpgradeSequencer::onCommand(std::int32_t controlId) {
    switch (controlId) {
        case ID_EXIT:
            dialog_.stopTimer(state_.timerId);
            dialog_.endMainDialog();
            break;
        case ID_YES:
            showUploadScreen(state_, dialog_);
            state_.phase = Programming;
            break;
        case ID_NO:
        case ID_OK:
            dialog_.stopTimer(state_.timerId);
            ports_.closePort(state_.portFile);
            dialog_.endMainDialog();
            break;
        default:
            break;
    }
}

}  // namespace vkt5
