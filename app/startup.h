// Start-up: the initial state, the image table, the window, and the modal run with the sequencer
// as its handler. Returns the process exit status, which is 0 on every path.
#pragma once

#include <optional>
#include <string_view>

#include "app/upgrade_sequencer.h"
#include "app/upgrade_state.h"
#include "serial/serial_port_service.h"
#include "ui/main_dialog.h"

namespace vkt5 {

// The text shown when the carried image cannot be read or has no line to send.
inline constexpr std::string_view IMAGE_ERROR_TEXT =
    "The firmware image carried by this program cannot be read. Nothing was sent to the unit.";

// Steps before the window: the table sized, the initial values, the identification, the image
// loaded. Returns false when the image cannot be read or has no line to send.
bool initialiseState(UpgradeState& state, std::optional<std::string_view> image);

// Puts every field of a run back as start-up leaves it, for the next attempt in the same process:
// the image table, the identification, the window, the tick and the scan's port list stay.
void resetRunState(UpgradeState& state);

// image: the bytes of the carried image, or nothing when the platform could not read them.
// pacing: the sequencer's (Fast only where the host can watch the port).
int startUp(UpgradeState& state, std::optional<std::string_view> image, MainDialog& dialog,
            SerialPortService& ports, Pacing pacing = Pacing::Ticks);

// Whether the environment asks for fast pacing (VKT5_FAST=1); the hosts read it the same way.
Pacing pacingFromEnvironment(const char* fastValue);

}  // namespace vkt5
