// The command line from its arguments to its exit status, the same on every platform: parse,
// answer --help and --version, open the log and the trace, put the registry (and the trace
// decorator) over the platform's serial opener, and run.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/cli_platform.h"
#include "serial/serial_device.h"

namespace vkt5::cli {

// "vkt5-upgrade-cli 1.0.2" and the carried firmware's version, one per line.
std::string versionText();

int cliMain(const std::vector<std::string>& args, bool windows, CliPlatform& platform,
            SerialDeviceOpener& opener, std::optional<std::string_view> image);

}  // namespace vkt5::cli
