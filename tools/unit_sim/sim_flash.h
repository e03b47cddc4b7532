// The unit's program memory as the simulator sees it: the bytes that data records wrote, keyed by
// absolute address. Type 04 records set the upper 16 address bits for the data records after
// them; type 01 ends the image. A byte written twice keeps the later value and is counted, since
// real flash cannot be programmed twice without an erase. Addresses never written read as 0xFF
// (erased flash) when the memory is laid out as one binary.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/intel_hex.h"

namespace vkt5::sim {

class SimFlash {
  public:
    // Takes one well-formed record. Returns an empty text when the record was applied, else why it
    // was refused (a type other than 00, 01 and 04, or a malformed 01 or 04 record); a refused
    // record changes nothing.
    std::string apply(const HexRecord& record);

    const HexMemory& memory() const { return memory_; }
    std::uint64_t rewrittenBytes() const { return rewritten_; }
    std::optional<std::uint32_t> lowest() const;
    std::optional<std::uint32_t> highest() const;

    // Intel HEX text, CR LF line ends: a type 04 record ahead of each 64 KiB bank, data records of
    // at most 16 bytes that never cross a gap or a bank, and the end-of-file record.
    std::string toIntelHex() const;
    // Lowest to highest written address, gaps filled with 0xFF; empty when nothing was written.
    std::vector<std::uint8_t> toBinary() const;

  private:
    HexMemory memory_;
    std::uint32_t upper_ = 0;
    std::uint64_t rewritten_ = 0;
};

}  // namespace vkt5::sim
