// The main dialog as start-up sees it: a DialogHost that can also create its window, set its
// icons, run modally and report an unusable image. buildMainDialog puts the fixed contents (logo,
// banner) in place in a fixed order, the same on every host.
#pragma once

#include <cstdint>
#include <string_view>

#include "app/upgrade_state.h"
#include "ui/dialog_host.h"

namespace vkt5 {

// Message numbers of the handler contract (the Windows numbers, on every host).
enum DialogMessage : std::uint32_t {
    MSG_SIZE = 5,
    MSG_INIT_DIALOG = 272,
    MSG_COMMAND = 273,
    MSG_TIMER = 275,
    // Not a Windows message: the watched port has received bytes (fast mode only).
    MSG_PORT_DATA = 0x8001,
};

// The dialog's event handler: called for every event with the dialog, the message number and
// its two parameters; returns 0 so that the dialog's default handling follows.
class DialogEventHandler {
  public:
    virtual ~DialogEventHandler() = default;
    virtual std::intptr_t handleEvent(WindowHandle dialog, std::uint32_t message,
                                      std::uintptr_t wParam, std::intptr_t lParam) = 0;
};

class MainDialog : public DialogHost {
  public:
    // Sets the dialog font, creates the dialog hidden with a client area of the given size,
    // centred in the work area, with the caption; returns its handle.
    virtual WindowHandle createDialog(std::string_view caption, std::int32_t clientWidth,
                                      std::int32_t clientHeight) = 0;
    // Big (32 px) and small (16 px) window icons from the icon group.
    virtual void setDialogIcons(std::int32_t iconGroup) = 0;
    // Delivers initialisation, then size, then shows the window and delivers ticks and commands
    // one at a time until the dialog is destroyed.
    virtual void runMainDialog(DialogEventHandler& handler) = 0;
    // Tells the user that the carried image cannot be used; start-up then ends.
    virtual void showImageError(std::string_view message) = 0;
};

void buildMainDialog(UpgradeState& state, MainDialog& dialog);

}  // namespace vkt5
