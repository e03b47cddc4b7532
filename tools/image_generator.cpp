#include "tools/image_generator.h"

#include <algorithm>
#include <cassert>
#include <span>

#include "tools/intel_hex.h"

namespace vkt5 {

namespace {

// Fixed seed: the carried image must come out byte for byte the same on every build.
constexpr std::uint64_t FILLER_SEED = 0x564B54352D5631ULL;

// splitmix64: small, well mixed and identical on every compiler, unlike <random>'s distributions.
std::uint64_t nextRandom(std::uint64_t& state) {
    state += 0x9E3779B97F4A7C15ULL;
    std::uint64_t z = state;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

void putLittleEndian(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i) {
        bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

}  // namespace

std::uint32_t imageCrc32(const std::uint8_t* data, std::size_t size) {
    std::uint32_t crc = 0xFFFFFFFF;
    for (std::size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc >> 1) ^ (0xEDB88320U & (0U - (crc & 1U)));
        }
    }
    return ~crc;
}

std::vector<std::uint8_t> generateFirmwareBytes(std::string_view version) {
    std::vector<std::uint8_t> bytes(IMAGE_END_ADDRESS - IMAGE_START_ADDRESS, 0);

    const std::string text = "VKT5 " + std::string(version) + "\r\n";
    assert(IMAGE_HEADER_TEXT_OFFSET + text.size() <= IMAGE_HEADER_SIZE);
    putLittleEndian(bytes, 0, IMAGE_HEADER_MAGIC);
    putLittleEndian(bytes, 4, IMAGE_END_ADDRESS - 4);
    putLittleEndian(bytes, 8, IMAGE_HEADER_WORD2);
    std::copy(text.begin(), text.end(), bytes.begin() + IMAGE_HEADER_TEXT_OFFSET);

    std::uint64_t state = FILLER_SEED;
    const std::size_t crcAt = bytes.size() - 4;
    for (std::size_t i = IMAGE_HEADER_SIZE; i < crcAt; i += 8) {
        const std::uint64_t r = nextRandom(state);
        for (std::size_t k = 0; k < 8 && i + k < crcAt; ++k) {
            bytes[i + k] = static_cast<std::uint8_t>(r >> (8 * k));
        }
    }
    putLittleEndian(bytes, crcAt, imageCrc32(bytes.data(), crcAt));
    return bytes;
}

std::string generateFirmwareImage(std::string_view version) {
    const std::vector<std::uint8_t> bytes = generateFirmwareBytes(version);
    std::string text;
    text.reserve(320 * 1024);
    const auto addLine = [&text](std::uint8_t type, std::uint16_t offset,
                                 std::span<const std::uint8_t> data) {
        text += formatHexRecord(type, offset, data);
        text += "\r\n";
    };

    std::uint32_t address = IMAGE_START_ADDRESS;
    std::uint32_t bank = 0xFFFFFFFF;
    while (address < IMAGE_END_ADDRESS) {
        if (address >> 16 != bank) {
            bank = address >> 16;
            const std::uint8_t upper[2] = {static_cast<std::uint8_t>(bank >> 8),
                                           static_cast<std::uint8_t>(bank)};
            addLine(HEX_EXTENDED_LINEAR_ADDRESS, 0, upper);
        }
        const std::uint32_t left = IMAGE_END_ADDRESS - address;
        const std::uint32_t size = left >= 64 ? 64 : left >= 16 ? 16 : left;
        const std::span<const std::uint8_t> data(bytes.data() + (address - IMAGE_START_ADDRESS),
                                                 size);
        addLine(HEX_DATA, static_cast<std::uint16_t>(address & 0xFFFF), data);
        address += size;
    }
    addLine(HEX_END_OF_FILE, 0, {});
    return text;
}

}  // namespace vkt5
