// The dialog's event handler and the only thing that drives the upgrade once the dialog runs.
// Each 15 ms tick does the work of exactly one phase and returns; the buttons arrive as commands.
// It keeps no state of its own: everything is in the UpgradeState. It returns 0 for every message.
#pragma once

#include <cstdint>

#include "app/upgrade_state.h"
#include "serial/serial_port_service.h"
#include "ui/main_dialog.h"

namespace vkt5 {

inline constexpr std::int32_t TICK_INTERVAL_MS = 15;
inline constexpr std::int32_t TICK_ID = 1;

class UpgradeSequencer final : public DialogEventHandler {
  public:
    UpgradeSequencer(UpgradeState& state, SerialPortService& ports, DialogHost& dialog)
        : state_(state), ports_(ports), dialog_(dialog) {}

    std::intptr_t handleEvent(WindowHandle dialog, std::uint32_t message, std::uintptr_t wParam,
                              std::intptr_t lParam) override;

    void onInit();
    void onTick();
    void onCommand(std::int32_t controlId);

  private:
    UpgradeState& state_;
    SerialPortService& ports_;
    DialogHost& dialog_;
};

}  // namespace vkt5
