// The one line the search screen shows under its controls: the most useful thing the scan found
// on its last round, so that a user whose unit is never found learns why. It is made from the
// scan's reports alone, and the facts rank: no permission, then a port in use by another program,
// then a unit that was found but stopped answering, then ports that opened without a unit, then
// something that is not a serial port. Absent ports say nothing, so a machine with no serial
// device at all shows an empty line. Within a rank the lowest port number wins.
#pragma once

#include <cstdint>
#include <string>

#include "app/upgrade_state.h"

namespace vkt5 {

// The note for the reports in state.portReports; empty when there is nothing worth saying.
std::string scanNote(const UpgradeState& state);

// How the note names port n: "COM3", or "/dev/ttyACM0 (COM17)" where a device stands behind the
// name.
std::string notePortName(const UpgradeState& state, std::int32_t portNumber);

}  // namespace vkt5
