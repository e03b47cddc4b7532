#include "tools/intel_hex.h"

#include <cassert>
#include <cstdio>

namespace vkt5 {

namespace {

constexpr char HEX_DIGITS[] = "0123456789ABCDEF";

int digitValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

std::string hex32(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%05X", static_cast<unsigned>(value));
    return text;
}

bool reject(std::string* why, const char* reason) {
    if (why != nullptr) {
        *why = reason;
    }
    return false;
}

}  // namespace

std::optional<HexRecord> parseHexRecord(std::string_view line, std::string* why) {
    if (line.empty() || line[0] != ':') {
        reject(why, "record does not start with ':'");
        return std::nullopt;
    }
    const std::string_view digits = line.substr(1);
    if (digits.size() % 2 != 0) {
        reject(why, "odd number of hexadecimal digits");
        return std::nullopt;
    }
    std::vector<std::uint8_t> bytes;
    bytes.reserve(digits.size() / 2);
    for (std::size_t i = 0; i < digits.size(); i += 2) {
        const int high = digitValue(digits[i]);
        const int low = digitValue(digits[i + 1]);
        if (high < 0 || low < 0) {
            reject(why, "character other than 0-9 or A-F");
            return std::nullopt;
        }
        bytes.push_back(static_cast<std::uint8_t>(high * 16 + low));
    }
    if (bytes.size() < 5) {
        reject(why, "record shorter than count, offset, type and checksum");
        return std::nullopt;
    }
    if (bytes.size() != std::size_t{bytes[0]} + 5) {
        reject(why, "byte count disagrees with the record length");
        return std::nullopt;
    }
    unsigned sum = 0;
    for (const std::uint8_t b : bytes) {
        sum += b;
    }
    if ((sum & 0xFF) != 0) {
        reject(why, "wrong checksum");
        return std::nullopt;
    }
    HexRecord record;
    record.offset = static_cast<std::uint16_t>(bytes[1] << 8 | bytes[2]);
    record.type = bytes[3];
    record.data.assign(bytes.begin() + 4, bytes.end() - 1);
    return record;
}

std::string formatHexRecord(std::uint8_t type, std::uint16_t offset,
                            std::span<const std::uint8_t> data) {
    assert(data.size() <= 0xFF);
    std::string line;
    line.reserve(11 + 2 * data.size());
    line.push_back(':');
    unsigned sum = 0;
    const auto put = [&](std::uint8_t b) {
        line.push_back(HEX_DIGITS[b >> 4]);
        line.push_back(HEX_DIGITS[b & 0x0F]);
        sum += b;
    };
    put(static_cast<std::uint8_t>(data.size()));
    put(static_cast<std::uint8_t>(offset >> 8));
    put(static_cast<std::uint8_t>(offset & 0xFF));
    put(type);
    for (const std::uint8_t b : data) {
        put(b);
    }
    put(static_cast<std::uint8_t>((0x100 - (sum & 0xFF)) & 0xFF));
    return line;
}

bool HexDecoder::fail(std::string reason) {
    if (error_.empty()) {
        error_ = "line " + std::to_string(lines_) + ": " + std::move(reason);
    }
    return false;
}

bool HexDecoder::feed(std::string_view line) {
    if (failed()) {
        ++lines_;
        return false;
    }
    ++lines_;
    if (finished_) {
        return fail("record after the end-of-file record");
    }
    std::string why;
    const std::optional<HexRecord> record = parseHexRecord(line, &why);
    if (!record) {
        return fail(why);
    }
    switch (record->type) {
        case HEX_DATA: {
            const std::uint32_t base = upper_ << 16 | record->offset;
            for (std::size_t i = 0; i < record->data.size(); ++i) {
                const std::uint32_t address = base + static_cast<std::uint32_t>(i);
                if (!memory_.emplace(address, record->data[i]).second) {
                    return fail("address " + hex32(address) + " written twice");
                }
            }
            return true;
        }
        case HEX_END_OF_FILE:
            if (!record->data.empty() || record->offset != 0) {
                return fail("malformed end-of-file record");
            }
            finished_ = true;
            return true;
        case HEX_EXTENDED_LINEAR_ADDRESS:
            if (record->data.size() != 2 || record->offset != 0) {
                return fail("malformed extended-linear-address record");
            }
            upper_ = std::uint32_t{record->data[0]} << 8 | record->data[1];
            return true;
        default:
            return fail("unsupported record type " + std::to_string(record->type));
    }
}

DecodedHexImage decodeHexImage(std::string_view text) {
    DecodedHexImage result;
    HexDecoder decoder;
    std::size_t start = 0;
    while (start < text.size() && !decoder.failed()) {
        const std::size_t end = text.find("\r\n", start);
        if (end == std::string_view::npos) {
            decoder.feed(text.substr(start));
            if (!decoder.failed()) {
                result.error = "last line has no CR LF";
            }
            break;
        }
        const std::string_view line = text.substr(start, end - start);
        if (line.find_first_of("\r\n") != std::string_view::npos) {
            result.error =
                "line " + std::to_string(decoder.lineCount() + 1) + ": CR or LF inside the line";
            break;
        }
        decoder.feed(line);
        start = end + 2;
    }
    if (result.error.empty()) {
        result.error = decoder.error();
    }
    if (result.error.empty() && !decoder.finished()) {
        result.error = "no end-of-file record";
    }
    result.ok = result.error.empty();
    result.lineCount = decoder.lineCount();
    result.memory = decoder.memory();
    return result;
}

}  // namespace vkt5
