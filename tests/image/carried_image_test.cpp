// The carried image: the generator reproduces it byte for byte, and the file keeps every rule a
// replacement image has to keep (the program only relies on CR LF and the line count, the unit's
// boot loader on the rest).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "file_bytes.h"
#include "firmware/image_line_table.h"
#include "tools/image_generator.h"
#include "tools/intel_hex.h"

namespace vkt5 {
namespace {

class CarriedImage : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        text_ = new std::string(fileBytes(VKT5_IMAGE_FILE));
        lines_ = new std::vector<std::string_view>();
        std::string_view rest = *text_;
        for (std::size_t end; (end = rest.find("\r\n")) != std::string_view::npos;) {
            lines_->push_back(rest.substr(0, end));
            rest.remove_prefix(end + 2);
        }
    }
    static void TearDownTestSuite() {
        delete lines_;
        delete text_;
    }
    static HexRecord record(std::size_t lineNumber) {  // 1-based, as in an editor
        std::string why;
        const std::optional<HexRecord> parsed = parseHexRecord((*lines_)[lineNumber - 1], &why);
        EXPECT_TRUE(parsed) << "line " << lineNumber << ": " << why;
        return parsed.value_or(HexRecord{});
    }
    // The header record's bytes: the first data record, line 2.
    static std::vector<std::uint8_t> header() { return record(2).data; }

    static std::string* text_;
    static std::vector<std::string_view>* lines_;
};

std::string* CarriedImage::text_ = nullptr;
std::vector<std::string_view>* CarriedImage::lines_ = nullptr;

TEST_F(CarriedImage, GeneratorReproducesTheFileByteForByte) {
    ASSERT_FALSE(text_->empty()) << "cannot read " << VKT5_IMAGE_FILE;
    const std::string generated = generateFirmwareImage();
    ASSERT_EQ(generated.size(), text_->size());
    // Report the first difference rather than two 300 KB strings.
    EXPECT_EQ(generated.compare(*text_), 0)
        << "first difference at byte "
        << std::mismatch(generated.begin(), generated.end(), text_->begin()).first -
               generated.begin();
}

TEST_F(CarriedImage, TextHasCrLfLinesOfHexDigitsOnly) {
    EXPECT_EQ(text_->size(), 318175u);
    ASSERT_EQ(lines_->size(), 2263u);
    // Everything was consumed by the split: nothing after the last CR LF.
    std::size_t consumed = 0;
    for (const std::string_view line : *lines_) {
        consumed += line.size() + 2;
    }
    EXPECT_EQ(consumed, text_->size());
    for (std::size_t i = 0; i < lines_->size(); ++i) {
        const std::string_view line = (*lines_)[i];
        ASSERT_FALSE(line.empty()) << "line " << i + 1;
        EXPECT_EQ(line[0], ':') << "line " << i + 1;
        EXPECT_EQ(line.find_first_not_of("0123456789ABCDEF", 1), std::string_view::npos)
            << "line " << i + 1 << ": " << line;
    }
}

TEST_F(CarriedImage, EveryRecordParsesAndHasTheLengthOfItsKind) {
    std::size_t data = 0;
    for (std::size_t n = 1; n <= lines_->size(); ++n) {
        const HexRecord r = record(n);
        const std::size_t length = (*lines_)[n - 1].size();
        switch (r.type) {
            case HEX_DATA:
                ++data;
                EXPECT_TRUE((r.data.size() == 64 && length == 139) ||
                            (r.data.size() == 16 && length == 43) ||
                            (r.data.size() == 4 && length == 19))
                    << "line " << n << ": " << r.data.size() << " bytes, " << length << " chars";
                break;
            case HEX_EXTENDED_LINEAR_ADDRESS:
                EXPECT_EQ(length, 15u) << "line " << n;
                break;
            case HEX_END_OF_FILE:
                EXPECT_EQ(length, 11u) << "line " << n;
                break;
            default:
                ADD_FAILURE() << "line " << n << ": record type " << int{r.type};
        }
    }
    EXPECT_EQ(data, 2259u);
}

TEST_F(CarriedImage, AddressRecordsAndEndRecordSitWhereExpected) {
    ASSERT_EQ(lines_->size(), 2263u);
    EXPECT_EQ(lines_->front(), ":020000040000FA");
    EXPECT_EQ(lines_->back(), ":00000001FF");
    struct Bank {
        std::size_t line;
        std::uint8_t upper;
    };
    const Bank banks[] = {{1, 0x00}, {770, 0x01}, {1795, 0x02}};
    for (const Bank& bank : banks) {
        const HexRecord r = record(bank.line);
        EXPECT_EQ(r.type, HEX_EXTENDED_LINEAR_ADDRESS) << "line " << bank.line;
        EXPECT_EQ(r.data, (std::vector<std::uint8_t>{0x00, bank.upper})) << "line " << bank.line;
    }
    std::size_t addressRecords = 0;
    std::size_t endRecords = 0;
    for (std::size_t n = 1; n <= lines_->size(); ++n) {
        const std::uint8_t type = record(n).type;
        addressRecords += type == HEX_EXTENDED_LINEAR_ADDRESS;
        endRecords += type == HEX_END_OF_FILE;
    }
    EXPECT_EQ(addressRecords, 3u);
    EXPECT_EQ(endRecords, 1u);
}

TEST_F(CarriedImage, DataRunsWithoutGapFrom4000AndEndsInThreeSixteensAndAFour) {
    std::uint32_t upper = 0;
    std::uint32_t expected = IMAGE_START_ADDRESS;
    std::vector<std::pair<std::uint32_t, std::size_t>> records;  // address, size
    for (std::size_t n = 1; n <= lines_->size(); ++n) {
        const HexRecord r = record(n);
        if (r.type == HEX_EXTENDED_LINEAR_ADDRESS) {
            upper = std::uint32_t{r.data[0]} << 8 | r.data[1];
        } else if (r.type == HEX_DATA) {
            const std::uint32_t address = upper << 16 | r.offset;
            ASSERT_EQ(address, expected) << "line " << n;
            if (r.data.size() == 64) {
                EXPECT_EQ(address % 0x40, 0u) << "line " << n;
            }
            records.emplace_back(address, r.data.size());
            expected += static_cast<std::uint32_t>(r.data.size());
        }
    }
    EXPECT_EQ(expected, 0x273F4u);
    EXPECT_EQ(expected - IMAGE_START_ADDRESS, 144372u);
    ASSERT_GE(records.size(), 5u);
    const std::vector<std::pair<std::uint32_t, std::size_t>> tail(records.end() - 5, records.end());
    EXPECT_EQ(tail, (std::vector<std::pair<std::uint32_t, std::size_t>>{
                        {0x27380, 64}, {0x273C0, 16}, {0x273D0, 16}, {0x273E0, 16}, {0x273F0, 4}}));

    const DecodedHexImage decoded = decodeHexImage(*text_);
    EXPECT_TRUE(decoded.ok) << decoded.error;
    EXPECT_EQ(decoded.memory.size(), 144372u);
}

TEST_F(CarriedImage, HeaderHoldsMagicFinalWordAddressAndIdentification) {
    std::vector<std::uint8_t> expected = {0x5E, 0xBA, 0xDE, 0xC0, 0xF0, 0x73,
                                          0x02, 0x00, 0x00, 0xF0, 0x70, 0xBB};
    const std::string_view text = "VKT5 V1.002\r\n";
    expected.insert(expected.end(), text.begin(), text.end());
    expected.resize(64, 0x00);
    EXPECT_EQ(header(), expected);
    EXPECT_EQ(record(2).offset, 0x4000);
}

// The question names IMAGE_VERSION as the version about to be installed; the unit learns its new
// version from the header. The two must never drift apart.
TEST_F(CarriedImage, HeaderVersionIsImageVersion) {
    const std::vector<std::uint8_t> bytes = header();
    ASSERT_EQ(bytes.size(), 64u);
    const std::string fromHeader(bytes.begin() + 12, bytes.end());
    const std::size_t end = fromHeader.find("\r\n");
    ASSERT_NE(end, std::string::npos) << "no CR LF after the header text";
    const std::string identification = fromHeader.substr(0, end);
    ASSERT_EQ(identification.rfind("VKT5 ", 0), 0u) << identification;
    EXPECT_EQ(identification.substr(5), IMAGE_VERSION);
}

// A line lost, repeated or swapped in transit has to change what the unit programs.
TEST_F(CarriedImage, EveryDataRecordIsDistinct) {
    std::set<std::vector<std::uint8_t>> seen;
    std::size_t data = 0;
    for (std::size_t n = 1; n <= lines_->size(); ++n) {
        const HexRecord r = record(n);
        if (r.type == HEX_DATA) {
            ++data;
            EXPECT_TRUE(seen.insert(r.data).second) << "line " << n << " repeats an earlier one";
        }
    }
    EXPECT_EQ(seen.size(), data);
}

TEST_F(CarriedImage, FinalWordIsCrcOfEverythingBeforeIt) {
    const std::string_view check = "123456789";  // the CRC-32 check value
    EXPECT_EQ(imageCrc32(reinterpret_cast<const std::uint8_t*>(check.data()), check.size()),
              0xCBF43926u);

    const DecodedHexImage decoded = decodeHexImage(*text_);
    ASSERT_TRUE(decoded.ok) << decoded.error;
    std::vector<std::uint8_t> bytes;
    for (const auto& [address, value] : decoded.memory) {
        bytes.push_back(value);
    }
    ASSERT_EQ(bytes.size(), 144372u);
    const std::uint32_t stored =
        std::uint32_t{bytes[bytes.size() - 4]} | std::uint32_t{bytes[bytes.size() - 3]} << 8 |
        std::uint32_t{bytes[bytes.size() - 2]} << 16 | std::uint32_t{bytes[bytes.size() - 1]} << 24;
    EXPECT_EQ(stored, imageCrc32(bytes.data(), bytes.size() - 4));
}

}  // namespace
}  // namespace vkt5
