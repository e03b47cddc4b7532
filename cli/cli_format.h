// What vkt5-upgrade-cli prints, as pure functions of what happened: the live progress line, the
// 10 % lines, one summary line per unit, the table at the end, the CSV row of the log, the JSON
// objects and the --list lines. Nothing here writes anywhere or looks at a clock.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "serial/serial_port_service.h"

namespace vkt5::cli {

// How one unit ended. The exit status is the worst over all units (see exitStatusOf).
enum class UnitResult {
    Upgraded,  // every line sent, the unit said it was done
    Shown,     // --info: the version printed, the unit left alone
    Declined,  // the user said no, or there was nobody to ask
    NotFound,  // no unit within --timeout
    Failed,    // lost, ended early, a line refused
    Left,      // the user left it half programmed
};

int exitStatusOf(UnitResult result);
const char* resultName(UnitResult result);

struct UnitRecord {
    std::string port;
    std::string installed;  // the unit's version line, as it sent it; empty when not found
    std::string carried;
    double seconds = 0;  // from Yes to the end of the upload
    UnitResult result = UnitResult::NotFound;
    std::string detail;  // why it failed
    std::int32_t linesSent = 0;
    std::int32_t lineCount = 0;
};

// "1:08", "12:03", "1:02:03".
std::string formatDuration(double seconds);

// One terminal line: bar, percentage, lines, elapsed and time left (width of the bar given).
std::string progressLine(std::int32_t linesSent, std::int32_t lineCount, double elapsedSeconds,
                         int barWidth = 30);
// The 10 % step that linesSent has reached (0 to 10).
int progressDecile(std::int32_t linesSent, std::int32_t lineCount);
// "COM3: 40% (905/2263 lines, 0:27)" for output that is not a terminal.
std::string progressStepLine(const std::string& port, std::int32_t linesSent,
                             std::int32_t lineCount, double elapsedSeconds);

// "COM3  V1.001 -> V1.002  upgraded in 68.0 s"; a failure says where it stopped.
std::string summaryLine(const UnitRecord& unit);
// The table at the end of a run of several units, with a header and the exit status.
std::string summaryTable(const std::vector<UnitRecord>& units);

// The CSV log: the header once, then a row per unit. time is the caller's (ISO 8601, UTC).
std::string csvHeader();
std::string csvRow(const std::string& time, const UnitRecord& unit);

// One JSON object on one line: {"event":"name", "key":value...}. Values are strings unless
// given as numbers through jsonNumber.
struct JsonValue {
    JsonValue(std::string value) : text(std::move(value)) {}  // NOLINT: a string by default
    JsonValue(const char* value) : text(value) {}             // NOLINT
    JsonValue(std::string value, bool isNumber) : text(std::move(value)), number(isNumber) {}
    std::string text;
    bool number = false;
};
using JsonFields = std::vector<std::pair<std::string, JsonValue>>;
std::string jsonString(const std::string& text);
JsonValue jsonNumber(double value);
std::string jsonEvent(const std::string& event, const JsonFields& fields);
JsonFields unitFields(const UnitRecord& unit);

// What --list says of one port: "absent", "no permission (join the dialout group)"...
std::string portStateText(PortState state, bool posix);
std::string portListLine(const std::string& port, const OpenDetail& detail, bool posix);

}  // namespace vkt5::cli
