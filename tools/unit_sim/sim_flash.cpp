#include "tools/unit_sim/sim_flash.h"

namespace vkt5::sim {

std::string SimFlash::apply(const HexRecord& record) {
    switch (record.type) {
        case HEX_DATA: {
            const std::uint32_t base = upper_ << 16 | record.offset;
            for (std::size_t i = 0; i < record.data.size(); ++i) {
                const auto address = static_cast<std::uint32_t>(base + i);
                const auto [it, inserted] = memory_.insert_or_assign(address, record.data[i]);
                if (!inserted) {
                    ++rewritten_;
                }
            }
            return {};
        }
        case HEX_END_OF_FILE:
            if (!record.data.empty() || record.offset != 0) {
                return "end-of-file record with data or an offset";
            }
            return {};
        case HEX_EXTENDED_LINEAR_ADDRESS:
            if (record.data.size() != 2 || record.offset != 0) {
                return "extended linear address record without exactly 2 data bytes at offset 0";
            }
            upper_ = static_cast<std::uint32_t>(record.data[0] << 8 | record.data[1]);
            return {};
        default:
            return "unsupported record type " + std::to_string(record.type);
    }
}

std::optional<std::uint32_t> SimFlash::lowest() const {
    if (memory_.empty()) {
        return std::nullopt;
    }
    return memory_.begin()->first;
}

std::optional<std::uint32_t> SimFlash::highest() const {
    if (memory_.empty()) {
        return std::nullopt;
    }
    return memory_.rbegin()->first;
}

std::string SimFlash::toIntelHex() const {
    std::string text;
    std::optional<std::uint32_t> bank;
    auto it = memory_.begin();
    while (it != memory_.end()) {
        const std::uint32_t start = it->first;
        if (!bank || *bank != start >> 16) {
            bank = start >> 16;
            const std::uint8_t upper[2] = {static_cast<std::uint8_t>(*bank >> 8),
                                           static_cast<std::uint8_t>(*bank & 0xFF)};
            text += formatHexRecord(HEX_EXTENDED_LINEAR_ADDRESS, 0, upper);
            text += "\r\n";
        }
        std::vector<std::uint8_t> data;
        std::uint32_t next = start;
        while (it != memory_.end() && it->first == next && data.size() < 16 &&
               next >> 16 == *bank) {
            data.push_back(it->second);
            ++next;
            ++it;
        }
        text += formatHexRecord(HEX_DATA, static_cast<std::uint16_t>(start & 0xFFFF), data);
        text += "\r\n";
    }
    text += formatHexRecord(HEX_END_OF_FILE, 0, {});
    text += "\r\n";
    return text;
}

std::vector<std::uint8_t> SimFlash::toBinary() const {
    if (memory_.empty()) {
        return {};
    }
    const std::uint32_t low = memory_.begin()->first;
    const std::uint32_t high = memory_.rbegin()->first;
    std::vector<std::uint8_t> bytes(std::size_t{high - low} + 1, 0xFF);
    for (const auto& [address, value] : memory_) {
        bytes[address - low] = value;
    }
    return bytes;
}

}  // namespace vkt5::sim
