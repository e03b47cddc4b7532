#include "app/upgrade_sequencer.h"

#include "app/startup.h"
#include "firmware/boot_loader_dialogue.h"
#include "serial/line_receiver.h"
#include "serial/port_scan.h"
#include "serial/scan_note.h"
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
        case MSG_PORT_DATA:
            onPortData();
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
            tickScan();
            break;
        case DrainInput:
            drainInput(state_, ports_);
            state_.phase = ReadVersion;
            state_.phaseTicks = 0;
            state_.quietTicks = 0;
            break;
        case ReadVersion:
            tickReadVersion();
            break;
        case AwaitAnswer:
            tickAwaitAnswer();
            break;
        case Programming:
            tickProgramming();
            break;
        default:
            break;  // Finished, Failed: the user decides
    }
    updateWatch();
}

void UpgradeSequencer::onPortData() {
    if (pacing_ == Pacing::Fast && (state_.phase == ReadVersion || state_.phase == Programming)) {
        runDialogue();
    }
    updateWatch();
}

void UpgradeSequencer::tickScan() {
    scanTick(state_, ports_);
    if (state_.unitFound == 1) {
        state_.phase = DrainInput;
    }
    dialog_.setProgressPosition(ID_SCAN_PROGRESS, state_.portNumber);
    // The note is set once a round, when the last port is done with, so it never flickers.
    const bool roundDone =
        state_.unitFound == 0 && state_.portOpen == 0 && state_.portNumber == scanPortCount(state_);
    if (roundDone) {
        std::string note = scanNote(state_);
        if (note != state_.scanNote) {
            state_.scanNote = std::move(note);
            dialog_.setControlText(ID_SCAN_NOTE, state_.scanNote);
        }
    }
}

void UpgradeSequencer::tickReadVersion() {
    state_.phaseTicks += 1;
    if (runDialogue() && state_.phaseTicks >= VERSION_WAIT_TICKS) {
        letUnitGo();
    }
}

// The question is on screen and nothing is read; only a unit unplugged meanwhile is looked for,
// so that the user is not sent into an upload to a port that is gone.
void UpgradeSequencer::tickAwaitAnswer() {
    if (deviceGone(ports_.queuedBytes(state_.portFile).status)) {
        state_.failure = PortLost;
        fail();
    }
}

void UpgradeSequencer::tickProgramming() {
    state_.quietTicks += 1;
    if (!runDialogue()) {
        return;
    }
    // The screen changes only when the count does: redrawing the same figures every tick costs
    // the CPU of a stalled upload for nothing.
    if (state_.lineCount > state_.linesSent && state_.step > RequestProgram &&
        state_.shownLines != state_.linesSent) {
        refreshUploadProgress(state_, dialog_);
        state_.shownLines = state_.linesSent;
    }
    watchSilence();
}

bool UpgradeSequencer::runDialogue() {
    const std::int32_t steps = pacing_ == Pacing::Fast ? FAST_STEP_LIMIT : 1;
    for (std::int32_t i = 0; i < steps; ++i) {
        const std::int32_t before = state_.step;
        advanceDialogue(state_, ports_);
        // Only an answer the dialogue waited for ends a silence. Any byte would not do: a unit
        // powered up again mid-upload repeats its identification, which would take the warning
        // and its Retry away while the upload waits for a prompt that never comes.
        if (state_.step != before) {
            state_.quietTicks = 0;
        }
        const bool stays = state_.phase == ReadVersion ? settleReadVersion() : settleProgramming();
        if (!stays) {
            return false;
        }
        if (state_.step == before && !lineAvailable(state_)) {
            break;  // waiting for the unit
        }
    }
    return true;
}

bool UpgradeSequencer::settleReadVersion() {
    if (state_.failure != NoFailure) {
        letUnitGo();
        return false;
    }
    if (state_.versionKnown == 1) {
        showVersionPrompt(state_, dialog_);
        state_.phase = AwaitAnswer;
        return false;
    }
    return true;
}

bool UpgradeSequencer::settleProgramming() {
    if (state_.lineCount == state_.linesSent) {
        showSuccessScreen(state_, dialog_);
        state_.phase = Finished;
        return false;
    }
    if (state_.failure != NoFailure) {
        fail();
        return false;
    }
    return true;
}

void UpgradeSequencer::watchSilence() {
    const std::int32_t limit = state_.step == AwaitErased ? ERASE_SILENCE_TICKS : SILENCE_TICKS;
    if (state_.quietTicks >= limit && state_.silenceShown == 0) {
        showSilenceWarning(state_, dialog_, limit * TICK_INTERVAL_MS / 1000);
    } else if (state_.quietTicks < limit && state_.silenceShown == 1) {
        hideSilenceWarning(state_, dialog_);
    }
}

// The port is closed at once: a device that was unplugged can then come back under its old name.
void UpgradeSequencer::fail() {
    showFailureScreen(state_, dialog_);
    ports_.closePort(state_.portFile);
    state_.portOpen = 0;
    state_.phase = Failed;
}

// The unit was found but did not get through its identification and version: the search screen
// is still up, so the scan simply goes on from the next port.
void UpgradeSequencer::letUnitGo() {
    ports_.closePort(state_.portFile);
    const std::int32_t portNumber = state_.portNumber;
    std::vector<OpenDetail> reports = std::move(state_.portReports);
    std::string note = std::move(state_.scanNote);
    resetRunState(state_);
    state_.portNumber = portNumber;
    state_.portReports = std::move(reports);
    state_.scanNote = std::move(note);
}

void UpgradeSequencer::startOver() {
    removeScreen(state_, dialog_);
    ports_.closePort(state_.portFile);
    resetRunState(state_);
    showSearchScreen(state_, dialog_);
    updateWatch();
}

void UpgradeSequencer::updateWatch() {
    if (pacing_ != Pacing::Fast) {
        return;
    }
    const bool listening = state_.phase == ReadVersion || state_.phase == Programming;
    dialog_.watchPort(listening ? ports_.waitHandle(state_.portFile)
                                : SerialPortService::NO_WAIT_HANDLE);
}

void UpgradeSequencer::onCommand(std::int32_t controlId) {
    switch (controlId) {
        case ID_EXIT:
            dialog_.stopTimer(state_.timerId);
            if (state_.phase == Programming) {
                ports_.closePort(state_.portFile);
            }
            dialog_.endMainDialog();
            break;
        case ID_YES:
            showUploadScreen(state_, dialog_);
            state_.phase = Programming;
            state_.quietTicks = 0;
            if (pacing_ == Pacing::Fast) {
                runDialogue();  // the confirmation goes out now, not on the next beat
                updateWatch();
            }
            break;
        case ID_NO:
        case ID_OK:
            dialog_.stopTimer(state_.timerId);
            ports_.closePort(state_.portFile);
            dialog_.endMainDialog();
            break;
        case ID_RETRY:
            if (state_.phase == Failed || (state_.phase == Programming && state_.silenceShown)) {
                startOver();
            }
            break;
        default:
            break;
    }
}

}  // namespace vkt5
