// Upper-casing of Windows-1252 text at the edges of its rules. The Windows build runs the same
// table against the platform's own upper-casing (under Wine, code page 1252), so the two builds
// are held to one answer for every byte listed here.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "firmware/ansi_upper_case.h"

namespace vkt5 {
namespace {

struct UpperCase {
    unsigned char in;
    unsigned char out;
    const char* what;
};

const std::vector<UpperCase> EDGES = {
    {'a', 'A', "first small letter"},
    {'z', 'Z', "last small letter"},
    {'`', '`', "grave accent, just before a"},
    {'{', '{', "left brace, just after z"},
    {'A', 'A', "capitals stay"},
    {'Z', 'Z', "capitals stay"},
    {'@', '@', "just before A"},
    {'[', '[', "just after Z"},
    {0x00, 0x00, "NUL"},
    {0x83, 0x83, "f with hook: its capital is not in the code page"},
    {0x8A, 0x8A, "S caron stays"},
    {0x9A, 0x8A, "s caron"},
    {0x9C, 0x8C, "oe ligature"},
    {0x9E, 0x8E, "z caron"},
    {0x9F, 0x9F, "Y diaeresis stays"},
    {0x9B, 0x9B, "single right angle quote, between the small letters"},
    {0x9D, 0x9D, "unassigned, between the small letters"},
    {0xAA, 0xAA, "feminine ordinal"},
    {0xB5, 0xB5, "micro sign: its capital is not in the code page"},
    {0xBA, 0xBA, "masculine ordinal"},
    {0xC0, 0xC0, "A grave stays"},
    {0xD7, 0xD7, "multiplication sign"},
    {0xDE, 0xDE, "capital thorn stays"},
    {0xDF, 0xDF, "sharp s has no single capital"},
    {0xE0, 0xC0, "a grave, first of the accented block"},
    {0xF6, 0xD6, "o diaeresis, just before the division sign"},
    {0xF7, 0xF7, "division sign"},
    {0xF8, 0xD8, "o stroke, just after the division sign"},
    {0xFE, 0xDE, "small thorn, last of the accented block"},
    {0xFF, 0x9F, "y diaeresis: its capital sits at 0x9F"},
};

TEST(AnsiUpperCase, EdgesOfTheCodePage) {
    for (const auto& c : EDGES) {
        const std::string in(1, static_cast<char>(c.in));
        EXPECT_EQ(ansiUpperCase(in), std::string(1, static_cast<char>(c.out)))
            << c.what << " (0x" << std::hex << int{c.in} << ")";
    }
}

// All of them in one text: each byte on its own, NUL included, and the length never changes.
TEST(AnsiUpperCase, TextIsMappedByteForByte) {
    std::string in;
    std::string out;
    for (const auto& c : EDGES) {
        in += static_cast<char>(c.in);
        out += static_cast<char>(c.out);
    }
    in += in;
    out += out;
    EXPECT_EQ(ansiUpperCase(in), out);
    EXPECT_EQ(ansiUpperCase(""), "");
}

}  // namespace
}  // namespace vkt5
