#include "cli/cli_options.h"

#include <cctype>
#include <cstdlib>

#include "serial/port_scan.h"

namespace vkt5::cli {

namespace {

std::vector<std::string> splitCommas(const std::string& text) {
    std::vector<std::string> parts;
    std::string::size_type start = 0;
    while (true) {
        const auto comma = text.find(',', start);
        parts.push_back(text.substr(start, comma - start));
        if (comma == std::string::npos) {
            return parts;
        }
        start = comma + 1;
    }
}

std::optional<double> parseSeconds(const std::string& text) {
    if (text.empty()) {
        return std::nullopt;
    }
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size() || !(value > 0) || value > 86400.0 * 365) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

int comPortNumber(const std::string& name) {
    std::string rest = name;
    if (rest.rfind("\\\\.\\", 0) == 0) {
        rest = rest.substr(4);
    }
    if (rest.size() < 4 || rest.size() > 6) {
        return 0;
    }
    for (int i = 0; i < 3; ++i) {
        if (std::toupper(static_cast<unsigned char>(rest[static_cast<std::size_t>(i)])) !=
            "COM"[i]) {
            return 0;
        }
    }
    const std::string digits = rest.substr(3);
    if (digits[0] == '0') {
        return 0;
    }
    int number = 0;
    for (const char c : digits) {
        if (!std::isdigit(static_cast<unsigned char>(c))) {
            return 0;
        }
        number = number * 10 + (c - '0');
    }
    return number <= 255 ? number : 0;
}

ParsedCli parseCliOptions(const std::vector<std::string>& args, bool devicePaths) {
    ParsedCli parsed;
    CliOptions& o = parsed.options;
    auto usage = [&](std::string error) {
        parsed.action = CliAction::UsageError;
        parsed.error = std::move(error);
        return parsed;
    };

    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::optional<std::string> value;
        if (name.rfind("--", 0) == 0) {
            const auto equals = name.find('=');
            if (equals != std::string::npos) {
                value = name.substr(equals + 1);
                name = name.substr(0, equals);
            }
        }
        const bool takesValue = name == "--port" || name == "-p" || name == "--timeout" ||
                                name == "--log" || name == "--trace";
        if (takesValue && !value) {
            if (i + 1 >= args.size()) {
                return usage(name + " needs a value");
            }
            value = args[++i];
        } else if (!takesValue && value) {
            return usage(name + " takes no value");
        }

        if (name == "--help" || name == "-h") {
            parsed.action = CliAction::Help;
            return parsed;
        }
        if (name == "--version" || name == "-V") {
            parsed.action = CliAction::Version;
            return parsed;
        }
        if (name == "--port" || name == "-p") {
            for (const std::string& port : splitCommas(*value)) {
                if (port.empty()) {
                    return usage("--port: empty port name in \"" + *value + "\"");
                }
                const int number = comPortNumber(port);
                if (number == 0 && !devicePaths) {
                    return usage("--port: \"" + port + "\" is not a COM port name (COM1, COM12)");
                }
                // Numbers of 10 and up need the device-namespace form to open on Windows; the
                // Linux port map takes both forms.
                o.ports.push_back({port, number > 0 ? portName(number) : port});
            }
        } else if (name == "--timeout") {
            o.timeoutSeconds = parseSeconds(*value);
            if (!o.timeoutSeconds) {
                return usage("--timeout: \"" + *value + "\" is not a number of seconds above 0");
            }
        } else if (name == "--log") {
            o.logPath = *value;
        } else if (name == "--trace") {
            o.tracePath = *value;
        } else if (name == "--list") {
            o.list = true;
        } else if (name == "--info") {
            o.info = true;
        } else if (name == "--yes" || name == "-y") {
            o.yes = true;
        } else if (name == "--loop") {
            o.loop = true;
        } else if (name == "--json") {
            o.json = true;
        } else if (name == "--quiet" || name == "-q") {
            o.quiet = true;
        } else if (name == "--fast") {
            o.fast = true;
        } else if (!name.empty() && name[0] == '-') {
            return usage("unknown option " + name);
        } else {
            return usage("unexpected argument \"" + name + "\"");
        }
    }

    if (o.list && (o.info || o.yes || o.loop)) {
        return usage("--list goes with none of --info, --yes, --loop");
    }
    if (o.info && (o.yes || o.loop)) {
        return usage("--info goes with neither --yes nor --loop");
    }
    return parsed;
}

std::string usageText(bool windows) {
    std::string text = R"(usage: vkt5-upgrade-cli [options]

Finds a VKT-5 unit waiting in its boot loader on a serial port, shows its firmware version and
programs the firmware image this program carries. Without --port it searches COM1 to COM49.

  -p, --port PORT     search only PORT; repeat it, or give a comma-separated list. PORT is
                      COMn)";
    text += windows ? "" : " or a device path (/dev/ttyUSB0)";
    text += R"(. With several ports and --yes,
                      every port is upgraded at once, each on its own
      --list          try every port once and say what is there (absent, not a serial
                      line, no permission, in use, no unit, the unit); sends nothing
      --info          find the unit, print its installed version and the carried one,
                      and leave the unit as it is
  -y, --yes           upgrade without asking (otherwise ask y/N on the terminal; without
                      a terminal to ask, nothing is upgraded)
      --loop          bench mode: after each unit, wait for the next one; one line per
                      unit; Ctrl+C between units ends, during an upload it asks first
      --timeout SECONDS
                      give up when no unit has been found in this time (default: wait)
      --log FILE      append one CSV row per unit: time, port, installed version, new
                      version, seconds, result
      --trace FILE    write every byte each way, with the time and the port
      --json          one JSON object per event on standard output, nothing else
  -q, --quiet         print only questions, errors and what --list and --info find
      --fast          send each line as soon as the unit asks for it rather than on the
                      program's 15 ms beat)";
    text += windows ? " (on Windows still on the beat)" : "";
    text += R"(
  -V, --version       the program's version and the carried firmware's
  -h, --help          this text

Exit status: 0 upgraded (or --list, --info done), 1 declined, 2 no unit found in time,
3 the unit was lost or the upgrade failed (with several units: the worst of them),
64 usage error.
)";
    if (!windows) {
        text += R"(
VKT5_PORTS replaces the table of devices behind COM1 to COM49 (see vkt5-upgrade-cli(1)).
)";
    }
    return text;
}

}  // namespace vkt5::cli
