// One round of the scan over a list of port names, at the program's pace where a port is open
// (so that a unit's identification has time to arrive), and at once where an open fails.
#pragma once

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "serial/port_scan.h"

namespace vkt5::test {

inline void scanOneRound(UpgradeState& state, SerialPortService& ports,
                         std::vector<std::string> names) {
    state.identification = "VKT5\r\n";
    state.scanNames = std::move(names);
    const auto count = static_cast<std::int32_t>(state.scanNames.size());
    do {
        scanTick(state, ports);
        if (state.portOpen == 1) {
            std::this_thread::sleep_for(std::chrono::milliseconds(15));
        }
    } while (state.unitFound == 0 && !(state.portOpen == 0 && state.portNumber == count));
}

}  // namespace vkt5::test
