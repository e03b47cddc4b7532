// The walk over COM1 to COM49, one small step per tick: open and configure the next port, let it
// collect bytes for 35 ticks, then look once for the identification in everything it received.
// The scan sends nothing. A port that cannot be opened costs one tick, one that opens without the
// identification 37 ticks; after port 49 the walk starts again at port 1. A host may give the
// scan its own list of port names instead (state.scanNames); the walk is the same.
//
// As it goes the scan keeps a report per port (state.portReports): why it could not be opened,
// or whether the identification came.
#pragma once

#include <cstdint>
#include <string>

#include "app/upgrade_state.h"
#include "serial/serial_port_service.h"

namespace vkt5 {

inline constexpr std::int32_t FIRST_PORT = 1;
inline constexpr std::int32_t LAST_PORT = 49;
inline constexpr std::int32_t SETTLE_TICKS = 35;
inline constexpr std::int32_t OPEN_PAUSE_MS = 2;

// "COM9", "\\.\COM10": the name under which port n is opened.
std::string portName(std::int32_t portNumber);

// How many ports the scan walks (49, or the length of state.scanNames), and the name it opens
// for port n of them.
std::int32_t scanPortCount(const UpgradeState& state);
std::string scanPortName(const UpgradeState& state, std::int32_t portNumber);

// What the scan last found on port n (1-based); NotTried before it got there.
OpenDetail& portReport(UpgradeState& state, std::int32_t portNumber);

// The unit's line: 57600 8N1, 4096-byte queues, DTR held on; applied in this order.
void applyLineConfiguration(SerialPortService& ports, PortHandle handle);

void scanTick(UpgradeState& state, SerialPortService& ports);
void openNextPort(UpgradeState& state, SerialPortService& ports);
void checkIdentification(UpgradeState& state, SerialPortService& ports);
void drainInput(UpgradeState& state, SerialPortService& ports);

}  // namespace vkt5
