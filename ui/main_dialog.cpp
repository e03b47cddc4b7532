#include "ui/main_dialog.h"

#include <string>

namespace vkt5 {

void buildMainDialog(UpgradeState& state, MainDialog& dialog) {
    state.dialog = dialog.createDialog(dialogCaption(), state.dialogWidth, state.dialogHeight);
    dialog.setDialogIcons(ID_ICON_GROUP);
    dialog.addControl(ControlKind::Image, ID_LOGO, "#" + std::to_string(ID_LOGO_BITMAP),
                      {5, 8, 150, 150}, STYLE_IMAGE);
    state.largeFont = bannerFont();
    dialog.addControl(ControlKind::Label, ID_BANNER, "", {175, 8, state.dialogWidth - 12, 18},
                      STYLE_LABEL);
    dialog.setControlFont(ID_BANNER, state.largeFont);
    dialog.setControlColor(ID_BANNER, BANNER_TEXT_COLOR, DEFAULT_BACKGROUND);
    dialog.setControlText(ID_BANNER, BANNER_TEXT);
}

}  // namespace vkt5
