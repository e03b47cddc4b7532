#include "cli/cli_format.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace vkt5::cli {

int exitStatusOf(UnitResult result) {
    switch (result) {
        case UnitResult::Upgraded:
        case UnitResult::Shown:
            return 0;
        case UnitResult::Declined:
            return 1;
        case UnitResult::NotFound:
            return 2;
        case UnitResult::Failed:
        case UnitResult::Left:
            return 3;
    }
    return 3;
}

const char* resultName(UnitResult result) {
    switch (result) {
        case UnitResult::Upgraded:
            return "upgraded";
        case UnitResult::Shown:
            return "left as it was";
        case UnitResult::Declined:
            return "declined";
        case UnitResult::NotFound:
            return "not found";
        case UnitResult::Failed:
            return "failed";
        case UnitResult::Left:
            return "left half programmed";
    }
    return "failed";
}

std::string formatDuration(double seconds) {
    const auto total = static_cast<long long>(std::max(0.0, std::round(seconds)));
    char text[32];
    if (total >= 3600) {
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", total / 3600, total / 60 % 60,
                      total % 60);
    } else {
        std::snprintf(text, sizeof text, "%lld:%02lld", total / 60, total % 60);
    }
    return text;
}

namespace {

int percentOf(std::int32_t linesSent, std::int32_t lineCount) {
    if (lineCount <= 0) {
        return 0;
    }
    return static_cast<int>(static_cast<long long>(linesSent) * 100 / lineCount);
}

std::string secondsText(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", seconds);
    return text;
}

}  // namespace

std::string progressLine(std::int32_t linesSent, std::int32_t lineCount, double elapsedSeconds,
                         int barWidth) {
    const int percent = percentOf(linesSent, lineCount);
    const int filled =
        lineCount > 0 ? static_cast<int>(static_cast<long long>(linesSent) * barWidth / lineCount)
                      : 0;
    std::string line = "[" + std::string(static_cast<std::size_t>(filled), '#') +
                       std::string(static_cast<std::size_t>(barWidth - filled), '.') + "] ";
    char figures[96];
    std::snprintf(figures, sizeof figures, "%3d%%  %d/%d lines  %s elapsed", percent, linesSent,
                  lineCount, formatDuration(elapsedSeconds).c_str());
    line += figures;
    // Time left only once there is something to go by.
    if (linesSent > 0 && linesSent < lineCount) {
        const double left = elapsedSeconds / linesSent * (lineCount - linesSent);
        line += "  " + formatDuration(left) + " left";
    }
    return line;
}

int progressDecile(std::int32_t linesSent, std::int32_t lineCount) {
    return percentOf(linesSent, lineCount) / 10;
}

std::string progressStepLine(const std::string& port, std::int32_t linesSent,
                             std::int32_t lineCount, double elapsedSeconds) {
    return port + ": " + std::to_string(progressDecile(linesSent, lineCount) * 10) + "% (" +
           std::to_string(linesSent) + "/" + std::to_string(lineCount) + " lines, " +
           formatDuration(elapsedSeconds) + ")";
}

std::string summaryLine(const UnitRecord& unit) {
    std::string line = unit.port + "  ";
    if (!unit.installed.empty()) {
        line += unit.installed + " -> " + unit.carried + "  ";
    }
    line += resultName(unit.result);
    switch (unit.result) {
        case UnitResult::Upgraded:
            line += " in " + secondsText(unit.seconds) + " s";
            break;
        case UnitResult::Failed:
        case UnitResult::Left:
            line += " after " + std::to_string(unit.linesSent) + " of " +
                    std::to_string(unit.lineCount) + " lines";
            if (!unit.detail.empty()) {
                line += ": " + unit.detail;
            }
            break;
        default:
            break;
    }
    return line;
}

std::string summaryTable(const std::vector<UnitRecord>& units) {
    std::size_t portWidth = 4;
    std::size_t versionWidth = 9;
    for (const UnitRecord& unit : units) {
        portWidth = std::max(portWidth, unit.port.size());
        versionWidth = std::max(versionWidth, unit.installed.size());
    }
    auto pad = [](std::string text, std::size_t width) {
        text.resize(std::max(text.size(), width), ' ');
        return text;
    };
    std::string table = pad("port", portWidth) + "  " + pad("installed", versionWidth) +
                        "  new      seconds  result\n";
    int worst = 0;
    for (const UnitRecord& unit : units) {
        std::string result = resultName(unit.result);
        if ((unit.result == UnitResult::Failed || unit.result == UnitResult::Left)) {
            result += " after " + std::to_string(unit.linesSent) + "/" +
                      std::to_string(unit.lineCount) + " lines";
            if (!unit.detail.empty()) {
                result += ": " + unit.detail;
            }
        }
        char seconds[16];
        std::snprintf(seconds, sizeof seconds, "%7.1f", unit.seconds);
        table += pad(unit.port, portWidth) + "  " +
                 pad(unit.installed.empty() ? "-" : unit.installed, versionWidth) + "  " +
                 pad(unit.carried, 7) + "  " +
                 (unit.result == UnitResult::Upgraded ? std::string(seconds) : "      -") + "  " +
                 result + "\n";
        worst = std::max(worst, exitStatusOf(unit.result));
    }
    table += "exit status " + std::to_string(worst) + "\n";
    return table;
}

namespace {

std::string csvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) {
        return text;
    }
    std::string quoted = "\"";
    for (const char c : text) {
        quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    }
    return quoted + "\"";
}

}  // namespace

std::string csvHeader() {
    return "time,port,installed,new,seconds,result\n";
}

std::string csvRow(const std::string& time, const UnitRecord& unit) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.3f", unit.seconds);
    std::string result = resultName(unit.result);
    if (!unit.detail.empty()) {
        result += ": " + unit.detail;
    }
    return csvField(time) + "," + csvField(unit.port) + "," + csvField(unit.installed) + "," +
           csvField(unit.carried) + "," + seconds + "," + csvField(result) + "\n";
}

std::string jsonString(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (byte < 0x20 || byte >= 0x7F) {
            // Bytes outside ASCII come from the unit and are not UTF-8: each stands for itself.
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04X", byte);
            out += escape;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

JsonValue jsonNumber(double value) {
    char text[32];
    if (value == std::floor(value) && std::fabs(value) < 1e15) {
        std::snprintf(text, sizeof text, "%lld", static_cast<long long>(value));
    } else {
        std::snprintf(text, sizeof text, "%.3f", value);
    }
    return {text, true};
}

std::string jsonEvent(const std::string& event, const JsonFields& fields) {
    std::string out = "{\"event\":" + jsonString(event);
    for (const auto& [key, value] : fields) {
        out += "," + jsonString(key) + ":";
        out += value.number ? value.text : jsonString(value.text);
    }
    return out + "}";
}

JsonFields unitFields(const UnitRecord& unit) {
    JsonFields fields = {{"port", unit.port},
                         {"installed", unit.installed},
                         {"new", unit.carried},
                         {"result", resultName(unit.result)},
                         {"seconds", jsonNumber(unit.seconds)},
                         {"lines", jsonNumber(unit.linesSent)},
                         {"total", jsonNumber(unit.lineCount)},
                         {"exit_status", jsonNumber(exitStatusOf(unit.result))}};
    if (!unit.detail.empty()) {
        fields.emplace_back("detail", unit.detail);
    }
    return fields;
}

std::string portStateText(PortState state, bool posix) {
    switch (state) {
        case PortState::NotTried:
            return "not tried";
        case PortState::Absent:
            return "absent";
        case PortState::NotTerminal:
            return "not a serial line";
        case PortState::NoPermission:
            return posix ? "no permission (join the dialout group: sudo adduser $USER dialout)"
                         : "no permission";
        case PortState::InUse:
            return "in use by another program";
        case PortState::NoUnit:
            return "opened, no unit";
        case PortState::Unit:
            return "VKT-5 boot loader";
    }
    return "unknown";
}

std::string portListLine(const std::string& port, const OpenDetail& detail, bool posix) {
    std::string line = port;
    if (!detail.device.empty() && detail.device != port) {
        line += " (" + detail.device + ")";
    }
    line.resize(std::max<std::size_t>(line.size() + 2, 24), ' ');
    return line + portStateText(detail.state, posix);
}

}  // namespace vkt5::cli
