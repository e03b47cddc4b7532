// What the simulated unit saw, as "key: value" lines that a script can grep, plus the reference
// image that the flash and the received lines are compared with. Times are seconds since the
// simulator started, with millisecond resolution; "none" stands for something that never
// happened. Every key is always present, except the image comparison keys, which appear only
// when an image was given. When the unit has booted more than once, the keys describe the last
// boot-up (the flash keys the flash as it is now); boot_ups counts the boot-ups, units those
// that took the end-of-file record, and one "boot" line per boot-up sums each up.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/intel_hex.h"
#include "tools/unit_sim/unit_protocol.h"

namespace vkt5::sim {

struct ReferenceImage {
    HexMemory memory;
    std::vector<std::string> lines;  // record lines without CR LF, in file order
};

// Decodes an Intel HEX image text (CR LF line ends, ending with the end-of-file record).
std::optional<ReferenceImage> readReferenceImage(std::string_view text, std::string* error);

struct ReportInput {
    const UnitProtocol& unit;
    std::string endReason;
    std::uint64_t bytesSent = 0;
    const ReferenceImage* image = nullptr;
};

std::string formatReport(const ReportInput& input);

// True when every record line received equals the image's line at the same position.
bool recordsInOrder(const std::vector<std::string>& received, const ReferenceImage& image);

// Writes through a temporary file and a rename, so a reader never sees half a file.
bool writeFileAtomically(const std::string& path, std::string_view bytes, std::string* error);

}  // namespace vkt5::sim
