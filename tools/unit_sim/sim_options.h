// Command line of vkt5-unit-sim. Every option takes the forms "--name VALUE" and "--name=VALUE";
// times are whole milliseconds, counts whole numbers. parseSimOptions never exits: it reports a
// usage error (or a request for help) to its caller.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tools/unit_sim/unit_protocol.h"

namespace vkt5::sim {

struct SimOptions {
    UnitBehaviour unit;
    std::string linkPath;
    bool baudPace = false;
    std::string reportPath;
    std::string flashHexPath;
    std::string flashBinPath;
    std::string compareImagePath;
    std::string wireLogPath;
    bool exitAfterEof = false;
    bool exitOnClose = false;
    std::optional<SimTime> exitAfter;
    bool verbose = false;
};

struct ParsedOptions {
    std::optional<SimOptions> options;  // empty on a usage error or --help
    std::string error;                  // the usage error; empty for --help
};

ParsedOptions parseSimOptions(const std::vector<std::string>& args);

extern const char* const SIM_USAGE;

}  // namespace vkt5::sim
