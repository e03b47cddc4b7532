// The command line of vkt5-upgrade-cli. parseCliOptions never exits and never prints: it returns
// what to do, the options, or the usage error for the caller to report (exit status 64).
//
// Every option with a value takes the forms "--name VALUE" and "--name=VALUE". --port may be
// repeated and takes a comma-separated list; COMn names (any case, also "\\.\COMn") are kept as
// the port's name, anything else is a device path where the platform allows one.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace vkt5::cli {

struct PortArgument {
    std::string shown;  // as the user wrote it ("COM3", "/dev/ttyUSB0")
    std::string open;   // the name the serial back-end opens ("COM3", "\\.\COM12", the path)
};

struct CliOptions {
    std::vector<PortArgument> ports;  // empty: COM1 to COM49
    bool list = false;
    bool info = false;
    bool yes = false;
    bool loop = false;
    bool json = false;
    bool quiet = false;
    bool fast = false;
    std::optional<double> timeoutSeconds;
    std::string logPath;
    std::string tracePath;
};

enum class CliAction { Run, Help, Version, UsageError };

struct ParsedCli {
    CliAction action = CliAction::Run;
    CliOptions options;
    std::string error;  // for UsageError
};

// devicePaths: whether a port may be given as a device path (Linux) or only as COMn (Windows).
ParsedCli parseCliOptions(const std::vector<std::string>& args, bool devicePaths);

// The number n of "COMn" or "\\.\COMn" (1 to 255, "COM" in any case); 0 for anything else.
int comPortNumber(const std::string& name);

// The --help text; windows: as the Windows build has it.
std::string usageText(bool windows);

}  // namespace vkt5::cli
