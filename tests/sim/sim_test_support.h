// Helpers shared by the simulator's tests: a clocked driver around UnitProtocol and a small image.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tools/intel_hex.h"
#include "tools/unit_sim/unit_protocol.h"

namespace vkt5::sim::testing {

inline SimTime ms(std::int64_t value) {
    return std::chrono::milliseconds(value);
}

// Drives a UnitProtocol on a clock that only moves when told to.
class UnitDriver {
  public:
    explicit UnitDriver(UnitBehaviour behaviour = {}) : unit(std::move(behaviour)) {}

    // Moves the clock to `when` and returns everything the unit sent up to then.
    std::string at(SimTime when) {
        now = when;
        unit.advance(now);
        return unit.takeDue(now);
    }
    std::string after(SimTime step) { return at(now + step); }
    // The program writes `bytes` now; returns what the unit sends at once.
    std::string send(std::string_view bytes) {
        unit.receive(bytes, now);
        return at(now);
    }
    // Takes the unit from identification to its first "*" prompt the way the program does, one
    // millisecond after each answer; returns everything the unit said on the way.
    std::string reachProgramming() {
        std::string said = at(now);
        for (const char letter : std::string_view("YYEYP")) {
            said += send(std::string(1, letter));
            said += after(ms(1));
        }
        return said;
    }

    SimTime now{0};
    UnitProtocol unit;
};

// A small image over two 64 KiB banks: 04 (bank 0), 16 bytes at 0xFFF0, 04 (bank 1), 4 bytes at
// 0x10000, end of file.
inline std::vector<std::string> smallImageLines() {
    std::vector<std::uint8_t> first(16);
    for (std::size_t i = 0; i < first.size(); ++i) {
        first[i] = static_cast<std::uint8_t>(0xA0 + i);
    }
    const std::uint8_t bank0[2] = {0x00, 0x00};
    const std::uint8_t bank1[2] = {0x00, 0x01};
    const std::uint8_t second[4] = {0x01, 0x02, 0x03, 0x04};
    return {
        formatHexRecord(HEX_EXTENDED_LINEAR_ADDRESS, 0, bank0),
        formatHexRecord(HEX_DATA, 0xFFF0, first),
        formatHexRecord(HEX_EXTENDED_LINEAR_ADDRESS, 0, bank1),
        formatHexRecord(HEX_DATA, 0x0000, second),
        formatHexRecord(HEX_END_OF_FILE, 0, {}),
    };
}

inline std::string joinLines(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) {
        text += line + "\r\n";
    }
    return text;
}

}  // namespace vkt5::sim::testing
