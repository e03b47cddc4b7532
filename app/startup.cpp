#include "app/startup.h"

#include "app/upgrade_sequencer.h"
#include "firmware/image_loader.h"

namespace vkt5 {

bool initialiseState(UpgradeState& state, std::optional<std::string_view> image) {
    state.imageLines.assign(IMAGE_TABLE_SIZE, std::string());
    state.dialogWidth = DIALOG_CLIENT_WIDTH;
    state.dialogHeight = DIALOG_CLIENT_HEIGHT;
    state.phase = ScanPorts;
    state.step = StartDialogue;
    state.linesSent = 0;
    state.identification = "VKT5\r\n";

    state.scratch = image ? std::string(*image) : std::string();
    const bool usable = image.has_value() && loadImage(state);
    state.linesSent = 0;
    return usable;
}

void resetRunState(UpgradeState& state) {
    state.portFile = 0;
    state.portNumber = 0;
    state.portOpen = 0;
    state.settleTicks = 0;
    state.unitFound = 0;
    state.versionKnown = 0;
    state.lineReady = 0;
    state.bytesWaiting = 0;
    state.outLine.clear();
    state.rxBuffer.clear();
    state.lastLine.clear();
    state.unitVersion.clear();
    state.phase = ScanPorts;
    state.step = StartDialogue;
    state.percent = 0;
    state.scratch.clear();
    state.linesSent = 0;
    state.failure = NoFailure;
    state.portLost = 0;
    state.quietTicks = 0;
    state.phaseTicks = 0;
    state.silenceShown = 0;
    state.shownLines = -1;
    state.portReports.clear();
    state.scanNote.clear();
}

int startUp(UpgradeState& state, std::optional<std::string_view> image, MainDialog& dialog,
            SerialPortService& ports, Pacing pacing) {
    // An image with no line to send would let the upload end at once and report success without
    // programming anything: say so and leave the unit alone.
    if (!initialiseState(state, image)) {
        dialog.showImageError(IMAGE_ERROR_TEXT);
        return 0;
    }

    buildMainDialog(state, dialog);
    UpgradeSequencer sequencer(state, ports, dialog, pacing);
    dialog.runMainDialog(sequencer);
    return 0;
}

Pacing pacingFromEnvironment(const char* fastValue) {
    return fastValue != nullptr && std::string_view(fastValue) == "1" ? Pacing::Fast
                                                                      : Pacing::Ticks;
}

}  // namespace vkt5
