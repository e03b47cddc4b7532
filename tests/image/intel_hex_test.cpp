// The Intel HEX reader that the image tests and the unit simulator judge records with.
#include "tools/intel_hex.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace vkt5 {
namespace {

TEST(IntelHex, ParsesFieldsOfAValidRecord) {
    const std::optional<HexRecord> r = parseHexRecord(":0473F000A87D4E32F4");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->type, HEX_DATA);
    EXPECT_EQ(r->offset, 0x73F0);
    EXPECT_EQ(r->data, (std::vector<std::uint8_t>{0xA8, 0x7D, 0x4E, 0x32}));

    const std::optional<HexRecord> eof = parseHexRecord(":00000001FF");
    ASSERT_TRUE(eof);
    EXPECT_EQ(eof->type, HEX_END_OF_FILE);
    EXPECT_TRUE(eof->data.empty());
}

TEST(IntelHex, RejectsMalformedRecords) {
    struct Case {
        const char* line;
        const char* what;
    };
    const Case cases[] = {
        {"", "empty"},
        {"020000040000FA", "no colon"},
        {";020000040000FA", "other lead character"},
        {":020000040000F", "odd digit count"},
        {":020000040000fa", "lower-case digits"},
        {":02000004000G0FA", "non-hex digit"},
        {":0200000400 0FA", "space"},
        {":00000001", "too short for a checksum"},
        {":030000040000FA", "count says more bytes than there are"},
        {":010000040000FA", "count says fewer bytes than there are"},
        {":020000040000FB", "checksum off by one"},
        {":020000040001FA", "data changed, checksum not"},
        {":020000040000FA\r", "trailing CR"},
    };
    for (const Case& c : cases) {
        std::string why;
        EXPECT_FALSE(parseHexRecord(c.line, &why)) << c.what;
        EXPECT_FALSE(why.empty()) << c.what;
    }
}

TEST(IntelHex, FormattedRecordsParseBackToTheSameFields) {
    std::vector<std::uint8_t> bytes(255);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<std::uint8_t>(i * 37 + 11);
    }
    struct Case {
        std::uint8_t type;
        std::uint16_t offset;
        std::size_t size;
    };
    const Case cases[] = {{HEX_DATA, 0x4000, 64},
                          {HEX_DATA, 0xFFC0, 255},
                          {HEX_DATA, 0, 1},
                          {HEX_END_OF_FILE, 0, 0},
                          {HEX_EXTENDED_LINEAR_ADDRESS, 0, 2}};
    for (const Case& c : cases) {
        const std::span<const std::uint8_t> data(bytes.data(), c.size);
        const std::string line = formatHexRecord(c.type, c.offset, data);
        EXPECT_EQ(line.size(), 11 + 2 * c.size);
        const std::optional<HexRecord> r = parseHexRecord(line);
        ASSERT_TRUE(r) << line;
        EXPECT_EQ(r->type, c.type);
        EXPECT_EQ(r->offset, c.offset);
        EXPECT_EQ(r->data, std::vector<std::uint8_t>(data.begin(), data.end()));
    }
    EXPECT_EQ(formatHexRecord(HEX_END_OF_FILE, 0, {}), ":00000001FF");
    const std::uint8_t bank[] = {0x00, 0x02};
    EXPECT_EQ(formatHexRecord(HEX_EXTENDED_LINEAR_ADDRESS, 0, bank), ":020000040002F8");
}

std::string dataLine(std::uint16_t offset, std::vector<std::uint8_t> bytes) {
    return formatHexRecord(HEX_DATA, offset, bytes);
}

std::string bankLine(std::uint8_t upper) {
    const std::uint8_t data[] = {0x00, upper};
    return formatHexRecord(HEX_EXTENDED_LINEAR_ADDRESS, 0, data);
}

TEST(HexDecoder, PlacesDataAtTheBankGivenByTheLastAddressRecord) {
    HexDecoder decoder;
    EXPECT_TRUE(decoder.feed(dataLine(0xFFFE, {0x11, 0x22})));
    EXPECT_TRUE(decoder.feed(bankLine(0x02)));
    EXPECT_TRUE(decoder.feed(dataLine(0x0010, {0x33})));
    EXPECT_FALSE(decoder.finished());
    EXPECT_TRUE(decoder.feed(":00000001FF"));
    EXPECT_TRUE(decoder.finished());
    EXPECT_FALSE(decoder.failed());
    EXPECT_EQ(decoder.memory(), (HexMemory{{0xFFFE, 0x11}, {0xFFFF, 0x22}, {0x20010, 0x33}}));
    EXPECT_EQ(decoder.lineCount(), 4u);
}

TEST(HexDecoder, RefusesWhatAFlashLoaderCouldNotTake) {
    struct Case {
        std::vector<std::string> lines;
        const char* what;
    };
    const Case cases[] = {
        {{dataLine(0x10, {1, 2, 3}), dataLine(0x10, {1, 2, 3})}, "a repeated line"},
        {{dataLine(0x10, {1, 2, 3}), dataLine(0x12, {9})}, "overlapping records"},
        {{bankLine(1), dataLine(0, {1}), bankLine(1), dataLine(0, {1})}, "a repeated bank"},
        {{":00000001FF", dataLine(0, {1})}, "data after the end"},
        {{":00000001FF", ":00000001FF"}, "a second end record"},
        {{formatHexRecord(0x02, 0, std::vector<std::uint8_t>{0x10, 0x00})}, "segment address"},
        {{formatHexRecord(HEX_EXTENDED_LINEAR_ADDRESS, 0, std::vector<std::uint8_t>{1})},
         "short address record"},
        {{formatHexRecord(HEX_END_OF_FILE, 0, std::vector<std::uint8_t>{0})},
         "end record with data"},
        {{":020000040000FB"}, "bad checksum"},
    };
    for (const Case& c : cases) {
        HexDecoder decoder;
        bool allTaken = true;
        for (const std::string& line : c.lines) {
            allTaken = decoder.feed(line) && allTaken;
        }
        EXPECT_FALSE(allTaken) << c.what;
        EXPECT_TRUE(decoder.failed()) << c.what;
        EXPECT_FALSE(decoder.error().empty()) << c.what;
    }
}

TEST(HexDecoder, StaysFailedAndKeepsTheFirstReason) {
    HexDecoder decoder;
    EXPECT_FALSE(decoder.feed("garbage"));
    const std::string first = decoder.error();
    EXPECT_FALSE(decoder.feed(dataLine(0, {1})));
    EXPECT_EQ(decoder.error(), first);
    EXPECT_TRUE(decoder.memory().empty());
    EXPECT_EQ(decoder.lineCount(), 2u);
}

TEST(DecodeHexImage, AcceptsAWellFormedTextAndCountsItsLines) {
    const std::string text =
        bankLine(0) + "\r\n" + dataLine(0x4000, {0xAA, 0xBB}) + "\r\n" + ":00000001FF\r\n";
    const DecodedHexImage decoded = decodeHexImage(text);
    EXPECT_TRUE(decoded.ok) << decoded.error;
    EXPECT_TRUE(decoded.error.empty());
    EXPECT_EQ(decoded.lineCount, 3u);
    EXPECT_EQ(decoded.memory, (HexMemory{{0x4000, 0xAA}, {0x4001, 0xBB}}));
}

TEST(DecodeHexImage, RefusesBrokenLineStructure) {
    const std::string data = dataLine(0x4000, {0xAA});
    struct Case {
        std::string text;
        const char* what;
    };
    const Case cases[] = {
        {data + "\r\n:00000001FF", "no CR LF after the end record"},
        {data + "\r\n:00000001FF\r\n\r\n", "empty line after the end"},
        {data + "\r\n:00000001FF\r\nX", "bytes after the end"},
        {data + "\r\n", "no end record"},
        {"", "empty text"},
        {data + "\n:00000001FF\r\n", "bare LF as a line end"},
        {data + "\r:00000001FF\r\n", "bare CR inside a line"},
        {data + "\r\n\r\n:00000001FF\r\n", "empty line"},
    };
    for (const Case& c : cases) {
        const DecodedHexImage decoded = decodeHexImage(c.text);
        EXPECT_FALSE(decoded.ok) << c.what;
        EXPECT_FALSE(decoded.error.empty()) << c.what;
    }
}

}  // namespace
}  // namespace vkt5
