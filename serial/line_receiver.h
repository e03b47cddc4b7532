// Frames the unit's bytes into lines ending in CR LF and the bare prompt "*". A call takes the
// bytes already waiting, appends them to rxBuffer, and delivers at most one line into lastLine:
// when the whole buffer ends in CR LF (everything before the last pair, earlier pairs included),
// or when the buffer is exactly "*". Nothing else splits the buffer.
#pragma once

#include <cstddef>

#include "app/upgrade_state.h"
#include "serial/serial_port_service.h"

namespace vkt5 {

// rxBuffer never grows past this: a device that streams text without line ends would otherwise
// take memory without bound. The longest line the unit sends is far shorter; on overflow the
// oldest bytes are dropped, which no line the dialogue waits for can survive anyway.
inline constexpr std::size_t RX_BUFFER_LIMIT = 4096;

void receiveLine(UpgradeState& state, SerialPortService& ports);

}  // namespace vkt5
