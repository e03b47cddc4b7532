#include "tools/unit_sim/line_pacer.h"

#include <algorithm>

namespace vkt5::sim {

void LinePacer::push(std::string_view bytes, SimTime now) {
    for (const char byte : bytes) {
        busyUntil_ = std::max(busyUntil_, now) + byteTime_;
        queue_.push_back({busyUntil_, byte});
    }
}

std::string LinePacer::takeDue(SimTime now) {
    std::string out;
    while (!queue_.empty() && queue_.front().done <= now) {
        out += queue_.front().value;
        queue_.pop_front();
    }
    return out;
}

std::optional<SimTime> LinePacer::nextDue() const {
    if (queue_.empty()) {
        return std::nullopt;
    }
    return queue_.front().done;
}

}  // namespace vkt5::sim
