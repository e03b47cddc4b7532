// Windows-1252 upper-casing, byte for byte as the Windows build's platform call does it for that
// code page: a-z, the accented letters 0xE0-0xFE (except the division sign 0xF7), and the four
// letters whose capitals sit in the 0x80-0x9F block. Bytes without a capital in the code page
// (sharp s, micro sign) stay as they are.
#include "firmware/ansi_upper_case.h"

namespace vkt5 {

namespace {

unsigned char upper1252(unsigned char c) {
    if (c >= 'a' && c <= 'z') {
        return static_cast<unsigned char>(c - 0x20);
    }
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) {
        return static_cast<unsigned char>(c - 0x20);
    }
    switch (c) {
        case 0x9A:
            return 0x8A;  // s caron
        case 0x9C:
            return 0x8C;  // oe ligature
        case 0x9E:
            return 0x8E;  // z caron
        case 0xFF:
            return 0x9F;  // y diaeresis
        default:
            return c;
    }
}

}  // namespace

std::string ansiUpperCase(std::string_view text) {
    std::string out(text);
    for (char& ch : out) {
        ch = static_cast<char>(upper1252(static_cast<unsigned char>(ch)));
    }
    return out;
}

}  // namespace vkt5
