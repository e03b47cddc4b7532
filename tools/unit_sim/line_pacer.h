// A serial line in one direction: bytes pushed at some moment come out one at a time, each one
// character time after the previous one, as on a real asynchronous line (57600 bit/s with a
// start bit, 8 data bits and a stop bit: 10 bits, about 173.6 us per byte). A byte pushed while
// the line is idle takes one character time; bytes pushed while it is busy queue behind.
#pragma once

#include <deque>
#include <optional>
#include <string>
#include <string_view>

#include "tools/unit_sim/unit_protocol.h"

namespace vkt5::sim {

inline constexpr SimTime BYTE_TIME_57600_8N1{10'000'000'000LL / 57600};

class LinePacer {
  public:
    explicit LinePacer(SimTime byteTime = BYTE_TIME_57600_8N1) : byteTime_(byteTime) {}

    void push(std::string_view bytes, SimTime now);
    // The bytes that have fully crossed the line by `now`.
    std::string takeDue(SimTime now);
    std::optional<SimTime> nextDue() const;
    bool empty() const { return queue_.empty(); }
    std::size_t size() const { return queue_.size(); }

  private:
    struct Byte {
        SimTime done;
        char value;
    };
    SimTime byteTime_;
    SimTime busyUntil_{0};
    std::deque<Byte> queue_;
};

}  // namespace vkt5::sim
