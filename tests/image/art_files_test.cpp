// The logo and the window icon as the build embeds them: the logo is what the dialog's image
// control shows at its natural size, the icon group has to offer every size and depth the
// platforms pick from.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "file_bytes.h"

namespace vkt5 {
namespace {

std::uint32_t le16(const std::string& b, std::size_t at) {
    return static_cast<std::uint32_t>(static_cast<std::uint8_t>(b.at(at))) |
           static_cast<std::uint32_t>(static_cast<std::uint8_t>(b.at(at + 1))) << 8;
}

std::uint32_t le32(const std::string& b, std::size_t at) {
    return le16(b, at) | le16(b, at + 2) << 16;
}

std::uint32_t rowBytes(std::uint32_t width, std::uint32_t bpp) {
    return (width * bpp + 31) / 32 * 4;
}

TEST(Logo, Is150By150BottomUp24BitsWithoutColourTable) {
    const std::string bmp = fileBytes(VKT5_LOGO_FILE);
    ASSERT_GE(bmp.size(), 54u) << "cannot read " << VKT5_LOGO_FILE;
    EXPECT_EQ(bmp.substr(0, 2), "BM");
    EXPECT_EQ(le32(bmp, 2), bmp.size());
    EXPECT_EQ(le32(bmp, 10), 54u) << "pixels right after the headers: no colour table";
    EXPECT_EQ(le32(bmp, 14), 40u) << "BITMAPINFOHEADER";
    EXPECT_EQ(le32(bmp, 18), 150u);
    EXPECT_EQ(le32(bmp, 22), 150u) << "positive height: bottom-up";
    EXPECT_EQ(le16(bmp, 26), 1u);
    EXPECT_EQ(le16(bmp, 28), 24u);
    EXPECT_EQ(le32(bmp, 30), 0u) << "BI_RGB";
    EXPECT_EQ(le32(bmp, 46), 0u) << "colours used";
    EXPECT_EQ(bmp.size(), 54u + rowBytes(150, 24) * 150);
}

TEST(Icon, HoldsTheNineImagesEachAWellFormedBitmap) {
    const std::string ico = fileBytes(VKT5_ICON_FILE);
    ASSERT_GE(ico.size(), 6u) << "cannot read " << VKT5_ICON_FILE;
    EXPECT_EQ(le16(ico, 0), 0u);
    EXPECT_EQ(le16(ico, 2), 1u) << "icon, not cursor";
    const std::uint32_t count = le16(ico, 4);
    ASSERT_EQ(count, 9u);
    ASSERT_GE(ico.size(), 6 + 16 * count);

    std::vector<std::pair<std::uint32_t, std::uint32_t>> found;  // size, bits per pixel
    std::vector<std::pair<std::uint32_t, std::uint32_t>> spans;  // offset, length
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::size_t entry = 6 + 16 * i;
        const std::uint32_t width = le16(ico, entry) & 0xFF;
        const std::uint32_t height = le16(ico, entry + 1) & 0xFF;
        const std::uint32_t colours = le16(ico, entry + 2) & 0xFF;
        const std::uint32_t bpp = le16(ico, entry + 6);
        const std::uint32_t length = le32(ico, entry + 8);
        const std::uint32_t offset = le32(ico, entry + 12);
        const std::uint32_t size = width == 0 ? 256 : width;
        SCOPED_TRACE("entry " + std::to_string(i) + ": " + std::to_string(size) + " px, " +
                     std::to_string(bpp) + " bpp");
        EXPECT_EQ(width, height);
        EXPECT_EQ(le16(ico, entry + 4), 1u) << "planes";
        EXPECT_EQ(colours, bpp == 4 ? 16u : 0u);
        found.emplace_back(size, bpp);
        spans.emplace_back(offset, length);
        ASSERT_LE(std::uint64_t{offset} + length, ico.size());

        // The stored bitmap: its own header, a full colour table below 16 bits, the colour bits
        // and the 1-bit mask, and nothing else.
        EXPECT_EQ(le32(ico, offset), 40u);
        EXPECT_EQ(le32(ico, offset + 4), size);
        EXPECT_EQ(le32(ico, offset + 8), 2 * size) << "colour and mask halves";
        EXPECT_EQ(le16(ico, offset + 12), 1u);
        EXPECT_EQ(le16(ico, offset + 14), bpp);
        EXPECT_EQ(le32(ico, offset + 16), 0u) << "BI_RGB";
        const std::uint32_t table = bpp <= 8 ? 4u << bpp : 0u;
        EXPECT_EQ(length, 40 + table + (rowBytes(size, bpp) + rowBytes(size, 1)) * size);
    }

    std::sort(found.begin(), found.end());
    const std::vector<std::pair<std::uint32_t, std::uint32_t>> wanted = {
        {16, 4}, {16, 8}, {16, 32}, {24, 32}, {32, 8}, {32, 32}, {48, 8}, {48, 32}, {256, 32}};
    EXPECT_EQ(found, wanted);

    std::sort(spans.begin(), spans.end());
    EXPECT_EQ(spans.front().first, 6 + 16 * count);
    for (std::size_t i = 1; i < spans.size(); ++i) {
        EXPECT_EQ(spans[i].first, spans[i - 1].first + spans[i - 1].second) << "gap or overlap";
    }
    EXPECT_EQ(spans.back().first + spans.back().second, ico.size());
}

}  // namespace
}  // namespace vkt5
