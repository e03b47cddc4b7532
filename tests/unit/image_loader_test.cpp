// Splitting an image into the line table: the carried image, and texts that bend the rules.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/startup.h"
#include "firmware/image_loader.h"

namespace vkt5 {
namespace {

using namespace std::string_literals;

std::string readFile(const char* path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(ImageLoader, CarriedImage) {
    UpgradeState state;
    ASSERT_TRUE(initialiseState(state, readFile(VKT5_IMAGE_FILE)));
    EXPECT_EQ(state.lineCount, 2263);
    EXPECT_EQ(state.linesSent, 0);
    ASSERT_EQ(state.imageLines.size(), 7001u);
    EXPECT_EQ(state.imageLines[0], ":020000040000FA");
    EXPECT_EQ(state.imageLines[2262], ":00000001FF");
    for (std::size_t i = 2263; i < state.imageLines.size(); ++i) {
        ASSERT_TRUE(state.imageLines[i].empty()) << i;
    }
}

struct LoadCase {
    const char* name;
    std::string text;
    std::int32_t lineCount;
    std::vector<std::string> firstEntries;  // entries from 0, the rest must be empty
    bool usable;
};

TEST(ImageLoader, SplitsAtCrLfOnly) {
    const std::vector<LoadCase> cases = {
        {"two lines", "A\r\nB\r\n", 2, {"A", "B"}, true},
        {"last line without line end", "A\r\nB", 1, {"A", "B"}, true},
        {"empty line in the middle", "A\r\n\r\nB\r\n", 3, {"A", "", "B"}, true},
        {"lone CR and LF stay in the line", "A\rB\nC\r\n", 1, {"A\rB\nC"}, true},
        {"LF CR is no line end", "A\n\rB", 0, {"A\n\rB"}, false},
        {"no line end at all", ":00000001FF", 0, {":00000001FF"}, false},
        {"empty text", "", 0, {}, false},
        {"only a line end", "\r\n", 1, {""}, true},
        {"CR CR LF", "A\r\r\n", 1, {"A\r"}, true},
        {"NUL bytes pass", "A\0B\r\n"s, 1, {"A\0B"s}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        UpgradeState state;
        state.linesSent = 5;
        state.scratch = c.text;
        EXPECT_EQ(loadImage(state), c.usable);
        EXPECT_EQ(state.lineCount, c.lineCount);
        EXPECT_EQ(state.linesSent, 0);
        ASSERT_EQ(state.imageLines.size(), 7001u);
        for (std::size_t i = 0; i < state.imageLines.size(); ++i) {
            const std::string expected = i < c.firstEntries.size() ? c.firstEntries[i] : "";
            ASSERT_EQ(state.imageLines[i], expected) << "entry " << i;
        }
    }
}

TEST(ImageLoader, ImageLongerThanTheTableKeepsEveryLine) {
    std::string text;
    for (int i = 0; i < 8000; ++i) {
        text += "L" + std::to_string(i) + "\r\n";
    }
    text += "tail";
    UpgradeState state;
    state.scratch = text;
    EXPECT_TRUE(loadImage(state));
    EXPECT_EQ(state.lineCount, 8000);
    ASSERT_GT(state.imageLines.size(), 8000u);
    EXPECT_EQ(state.imageLines[7999], "L7999");
    EXPECT_EQ(state.imageLines[8000], "tail");
}

TEST(ImageLoader, UnreadableOrEmptyImageIsRefusedBeforeTheWindow) {
    for (const std::optional<std::string_view> image :
         {std::optional<std::string_view>{}, std::optional<std::string_view>{""},
          std::optional<std::string_view>{"no line end"}}) {
        UpgradeState state;
        EXPECT_FALSE(initialiseState(state, image));
        EXPECT_EQ(state.lineCount, 0);
        EXPECT_EQ(state.imageLines.size(), 7001u);
    }
}

}  // namespace
}  // namespace vkt5
