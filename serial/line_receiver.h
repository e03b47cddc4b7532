// Frames the unit's bytes into lines ending in CR LF and the bare prompt "*". A call takes the
// bytes already waiting, appends them to rxBuffer, and delivers at most one line into lastLine:
// the oldest complete line (without its CR LF), or, when no line end is left in the buffer and
// the buffer ends in "*", the prompt "*" (whatever stands before that "*" forms no line and is
// dropped). Lines are delivered one per call, in the order they arrived; nothing is joined.
//
// The receiver also notes what the port says of itself: when the device has gone away
// (portLost = 1).
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

// Whether rxBuffer already holds something receiveLine would deliver without reading more.
bool lineAvailable(const UpgradeState& state);

// A status of queuedBytes or receiveBytes that means the device is no longer there (unplugged,
// hung up), as opposed to nothing waiting, a line error, or a port the program already closed.
bool deviceGone(PortStatus status);

}  // namespace vkt5
