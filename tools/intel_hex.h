// Intel HEX records as the boot loader and the carried image use them: ":" then upper-case
// hexadecimal digits for byte count, big-endian 16-bit offset, type, data and checksum, the
// checksum making the sum of all record bytes 0 modulo 256. Lines are handled without their CR LF.
//
// parseHexRecord checks one line on its own. HexDecoder follows a sequence of lines the way a
// loader writing flash would: type 04 sets the upper 16 address bits, type 00 writes bytes at
// upper << 16 | offset, type 01 ends the image. Every data byte lands in a HexMemory keyed by its
// absolute address; writing an address twice is an error, so a repeated line is caught, and
// comparing two memories compares what two images (or an image and a programmed flash) hold,
// whatever the record boundaries.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vkt5 {

inline constexpr std::uint8_t HEX_DATA = 0x00;
inline constexpr std::uint8_t HEX_END_OF_FILE = 0x01;
inline constexpr std::uint8_t HEX_EXTENDED_LINEAR_ADDRESS = 0x04;

struct HexRecord {
    std::uint8_t type = 0;
    std::uint16_t offset = 0;
    std::vector<std::uint8_t> data;
};

// Absolute address -> byte.
using HexMemory = std::map<std::uint32_t, std::uint8_t>;

// Parses one record line (no CR LF). Rejects a missing ":", lower-case or non-hexadecimal digits,
// a length that disagrees with the byte count, and a wrong checksum. When it fails and `why` is
// given, *why says what was wrong. Any record type is accepted here.
std::optional<HexRecord> parseHexRecord(std::string_view line, std::string* why = nullptr);

// Formats one record line (no CR LF) with upper-case digits and a correct checksum.
// At most 255 data bytes.
std::string formatHexRecord(std::uint8_t type, std::uint16_t offset,
                            std::span<const std::uint8_t> data);

// Follows an image line by line. After the first failure every later feed fails as well, and
// error() keeps the first reason.
class HexDecoder {
  public:
    // Takes the next line (no CR LF). Fails on a malformed record, a type other than 00, 01 and
    // 04, a malformed 01 or 04 record, any line after the end-of-file record, and a data byte
    // whose address was already written.
    bool feed(std::string_view line);

    bool failed() const { return !error_.empty(); }
    const std::string& error() const { return error_; }
    // The end-of-file record has been taken.
    bool finished() const { return finished_; }
    // Lines taken so far, the failing one included.
    std::size_t lineCount() const { return lines_; }
    std::uint32_t upperAddress() const { return upper_; }
    const HexMemory& memory() const { return memory_; }

  private:
    bool fail(std::string reason);

    HexMemory memory_;
    std::string error_;
    std::uint32_t upper_ = 0;
    std::size_t lines_ = 0;
    bool finished_ = false;
};

struct DecodedHexImage {
    bool ok = false;
    std::string error;  // empty when ok
    HexMemory memory;
    std::size_t lineCount = 0;
};

// Decodes a whole image text whose every line ends in CR LF. Besides what HexDecoder checks, it
// fails when the text does not end right after the CR LF of an end-of-file record, or when a CR
// or LF appears outside a line end.
DecodedHexImage decodeHexImage(std::string_view text);

}  // namespace vkt5
