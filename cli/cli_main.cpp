#include "cli/cli_main.h"

#include <fstream>
#include <memory>

#include "cli/cli_app.h"
#include "cli/cli_format.h"
#include "cli/cli_options.h"
#include "firmware/image_line_table.h"
#include "serial/port_registry.h"
#include "serial/traced_port_service.h"

namespace vkt5::cli {

std::string versionText() {
    return std::string("vkt5-upgrade-cli ") + VKT5_VERSION + "\ncarried firmware image " +
           std::string(IMAGE_VERSION) + "\n";
}

int cliMain(const std::vector<std::string>& args, bool windows, CliPlatform& platform,
            SerialDeviceOpener& opener, std::optional<std::string_view> image) {
    const ParsedCli parsed = parseCliOptions(args, !windows);
    switch (parsed.action) {
        case CliAction::Help:
            platform.out(usageText(windows));
            return 0;
        case CliAction::Version:
            platform.out(versionText());
            return 0;
        case CliAction::UsageError:
            platform.err("vkt5-upgrade-cli: " + parsed.error +
                         "\nTry 'vkt5-upgrade-cli --help'.\n");
            return EXIT_USAGE;
        case CliAction::Run:
            break;
    }
    const CliOptions& options = parsed.options;

    std::ofstream log;
    if (!options.logPath.empty()) {
        log.open(options.logPath, std::ios::binary | std::ios::app);
        if (!log) {
            platform.err("vkt5-upgrade-cli: cannot write the log " + options.logPath + "\n");
            return EXIT_USAGE;
        }
        log.seekp(0, std::ios::end);
        if (log.tellp() == 0) {
            log << csvHeader() << std::flush;
        }
    }
    std::ofstream trace;
    if (!options.tracePath.empty()) {
        trace.open(options.tracePath, std::ios::binary | std::ios::trunc);
        if (!trace) {
            platform.err("vkt5-upgrade-cli: cannot write the trace " + options.tracePath + "\n");
            return EXIT_USAGE;
        }
    }

    PortRegistry registry(opener);
    std::unique_ptr<TracedPortService> traced;
    if (trace.is_open()) {
        traced = std::make_unique<TracedPortService>(
            registry, [&platform] { return platform.nowMicros(); },
            [&trace](std::string_view line) {
                trace << line << '\n';
                trace.flush();
            });
    }
    SerialPortService& ports = traced ? static_cast<SerialPortService&>(*traced) : registry;

    std::function<void(const std::string&)> csvLog;
    if (log.is_open()) {
        csvLog = [&log](const std::string& row) { log << row << std::flush; };
    }
    return runCli(options, platform, ports, image.value_or(std::string_view()), csvLog);
}

}  // namespace vkt5::cli
