// The command line's run: the units it drives, the tick loop that drives them, and everything it
// reports. Each unit is one UpgradeState with its own UpgradeSequencer and HeadlessHost, exactly
// as the window has them; the run only delivers the beat (every TICK_INTERVAL_MS), the port's
// bytes in fast mode, and the user's answers as the window's buttons, and reads the outcome from
// the state record. It never talks to the unit itself.
//
// One unit is searched for on every given port (or COM1 to COM49) unless there are several ports
// and --yes: then each port is a unit of its own, all on the one loop, and a failure on one port
// leaves the others going. The exit status is the worst over the units.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "cli/cli_options.h"
#include "cli/cli_platform.h"
#include "serial/serial_port_service.h"

namespace vkt5::cli {

inline constexpr int EXIT_USAGE = 64;

// csvLog receives one CSV row per unit (header not included); empty when there is no log.
int runCli(const CliOptions& options, CliPlatform& platform, SerialPortService& ports,
           std::string_view image, const std::function<void(const std::string&)>& csvLog);

}  // namespace vkt5::cli
