#include "serial/scan_note.h"

#include "serial/port_scan.h"

namespace vkt5 {

namespace {

// Higher is more useful to the user; 0 is not worth a word.
int rank(PortState state) {
    switch (state) {
        case PortState::NoPermission:
            return 5;
        case PortState::InUse:
            return 4;
        case PortState::Unit:
            return 3;
        case PortState::NoUnit:
            return 2;
        case PortState::NotTerminal:
            return 1;
        default:
            return 0;
    }
}

}  // namespace

std::string notePortName(const UpgradeState& state, std::int32_t portNumber) {
    std::string name = scanPortName(state, portNumber);
    if (name.rfind("\\\\.\\", 0) == 0) {
        name.erase(0, 4);
    }
    const auto index = static_cast<std::size_t>(portNumber - 1);
    const std::string& device =
        index < state.portReports.size() ? state.portReports[index].device : std::string();
    return device.empty() || device == name ? name : device + " (" + name + ")";
}

std::string scanNote(const UpgradeState& state) {
    std::int32_t best = 0;
    std::int32_t sameRank = 0;
    for (std::size_t i = 0; i < state.portReports.size(); ++i) {
        const int r = rank(state.portReports[i].state);
        if (r == 0) {
            continue;
        }
        const int bestRank = best == 0 ? 0 : rank(state.portReports[best - 1].state);
        if (r > bestRank) {
            best = static_cast<std::int32_t>(i) + 1;
            sameRank = 0;
        } else if (r == bestRank) {
            ++sameRank;
        }
    }
    if (best == 0) {
        return {};
    }
    const std::string port = notePortName(state, best);
    const std::string model(MODEL_NAME);
    switch (state.portReports[static_cast<std::size_t>(best - 1)].state) {
        case PortState::NoPermission:
            return " " + port + ": no permission - join the dialout group and log in again";
        case PortState::InUse:
            return " " + port + " is in use by another program";
        case PortState::Unit:
            return " " + model + " on " + port + " stopped answering; power it up again";
        case PortState::NoUnit:
            if (sameRank == 0) {
                return " No " + model + " answered on " + port;
            }
            return " No " + model + " answered on " + port + " or " + std::to_string(sameRank) +
                   (sameRank == 1 ? " other port" : " other ports");
        default:
            return " " + port + " is not a serial port";
    }
}

}  // namespace vkt5
