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

int startUp(UpgradeState& state, std::optional<std::string_view> image, MainDialog& dialog,
            SerialPortService& ports) {
    // An image with no line to send would let the upload end at once and report success without
    // programming anything: say so and leave the unit alone.
    if (!initialiseState(state, image)) {
        dialog.showImageError(IMAGE_ERROR_TEXT);
        return 0;
    }

    buildMainDialog(state, dialog);
    UpgradeSequencer sequencer(state, ports, dialog);
    dialog.runMainDialog(sequencer);
    return 0;
}

}  // namespace vkt5
