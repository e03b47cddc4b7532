// The toolkit-independent description of the dialog's controls: identifiers, kinds, rectangles
// in client pixels, styles as the Windows style bits, fonts and colours. Both hosts realise the
// same model, and the recording dialog in the tests compares against it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vkt5 {

inline constexpr std::string_view MODEL_NAME = "VKT-5";

// Control identifiers.
inline constexpr std::int32_t ID_BANNER = 101;
inline constexpr std::int32_t ID_SCAN_NOTE = 102;  // why the search has not found the unit yet
inline constexpr std::int32_t ID_PROMPT = 103;
inline constexpr std::int32_t ID_PROMPT2 = 104;
inline constexpr std::int32_t ID_SEARCHING = 105;
inline constexpr std::int32_t ID_UPLOAD_TEXT = 106;
inline constexpr std::int32_t ID_SCAN_PROGRESS = 107;
inline constexpr std::int32_t ID_UPLOAD_PROGRESS = 108;
inline constexpr std::int32_t ID_EXIT = 110;
inline constexpr std::int32_t ID_YES = 111;
inline constexpr std::int32_t ID_NO = 112;
inline constexpr std::int32_t ID_OK = 113;
// The failure screen and the no-answer warning.
inline constexpr std::int32_t ID_FAILURE_TEXT = 109;
inline constexpr std::int32_t ID_RETRY = 114;
inline constexpr std::int32_t ID_RESET_HINT = 115;
inline constexpr std::int32_t ID_LOGO = 180;

// The id of the cancel command that Escape produces; no control carries it.
inline constexpr std::int32_t ID_CANCEL = 2;

// Resource identifiers inside the executable.
inline constexpr std::int32_t ID_ICON_GROUP = 201;
inline constexpr std::int32_t ID_LOGO_BITMAP = 202;
inline constexpr std::int32_t ID_FIRMWARE_IMAGE = 203;

// Client area of the dialog, in pixels.
inline constexpr std::int32_t DIALOG_CLIENT_WIDTH = 500;
inline constexpr std::int32_t DIALOG_CLIENT_HEIGHT = 240;

enum class ControlKind { PushButton, Label, Image, ProgressBar };

// Styles the program passes, and the kinds' default and forced bits; the resulting window style
// is (passed, or the default when 0) | forced.
inline constexpr std::uint32_t STYLE_BUTTON = 0x1;
inline constexpr std::uint32_t STYLE_LABEL = 0x12000;
inline constexpr std::uint32_t STYLE_IMAGE = 0x50000000;
inline constexpr std::uint32_t STYLE_PROGRESS_SMOOTH = 0x50000001;
inline constexpr std::uint32_t STYLE_PROGRESS = 0x50000000;

std::uint32_t windowStyleOf(ControlKind kind, std::uint32_t passedStyle);

struct Rect {
    std::int32_t x = 0;
    std::int32_t y = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
    friend bool operator==(const Rect&, const Rect&) = default;
};

// A font as the program describes it; a host realises it when it is first applied.
struct FontSpec {
    std::string face;
    std::int32_t points = 0;
    std::int32_t weight = 0;  // 400 normal, 700 bold
    bool italic = false;
    std::int32_t charSet = 0;
    std::int32_t pitchAndFamily = 0;
    std::int32_t escapement = 0;
    friend bool operator==(const FontSpec&, const FontSpec&) = default;
};

// Pixel height of a font of the given size on a screen of the given vertical resolution, as the
// negative number a logical-font record carries: -round(points * dpi / 72).
std::int32_t fontPixelHeight(std::int32_t points, std::int32_t dpi);

FontSpec dialogFont();  // "Arial" 10 pt bold, every control
FontSpec bannerFont();  // "Arial" 12 pt bold, the banner

// A colour value as the Windows COLORREF: 0x00BBGGRR.
using ColorRef = std::uint32_t;
inline constexpr ColorRef BANNER_TEXT_COLOR = 0x008C0000;  // red 0, green 0, blue 140
inline constexpr std::int32_t DEFAULT_BACKGROUND = -1;

inline constexpr std::uint8_t redOf(ColorRef c) {
    return static_cast<std::uint8_t>(c & 0xFF);
}
inline constexpr std::uint8_t greenOf(ColorRef c) {
    return static_cast<std::uint8_t>((c >> 8) & 0xFF);
}
inline constexpr std::uint8_t blueOf(ColorRef c) {
    return static_cast<std::uint8_t>((c >> 16) & 0xFF);
}

// The texts of the caption and the fixed elements.
std::string dialogCaption();
inline constexpr std::string_view BANNER_TEXT = "C o r v a n e";

// Where a window of the given outer size goes in a work area under the centring rule: the middle,
// with integer division, but never left of or above the screen's origin.
struct Point {
    std::int32_t x = 0;
    std::int32_t y = 0;
    friend bool operator==(const Point&, const Point&) = default;
};
Point centredPosition(Rect workArea, std::int32_t windowWidth, std::int32_t windowHeight);

}  // namespace vkt5
