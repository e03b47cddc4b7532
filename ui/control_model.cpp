#include "ui/control_model.h"

#include <cmath>

namespace vkt5 {

std::uint32_t windowStyleOf(ControlKind kind, std::uint32_t passedStyle) {
    struct Bits {
        std::uint32_t defaults;
        std::uint32_t forced;
    };
    Bits bits{};
    switch (kind) {
        case ControlKind::PushButton:
            bits = {0x50010000, 0x50000000};
            break;
        case ControlKind::Label:
            bits = {0x50000000, 0x50000000};
            break;
        case ControlKind::Image:
            bits = {0x5000000E, 0x5000000E};
            break;
        case ControlKind::ProgressBar:
            bits = {0x50800000, 0x50000000};
            break;
    }
    return (passedStyle != 0 ? passedStyle : bits.defaults) | bits.forced;
}

std::int32_t fontPixelHeight(std::int32_t points, std::int32_t dpi) {
    return -static_cast<std::int32_t>(std::lround(static_cast<double>(points) * dpi / 72.0));
}

FontSpec dialogFont() {
    return FontSpec{"Arial", 10, 700, false, 0, 0, 0};
}

FontSpec bannerFont() {
    return FontSpec{"Arial", 12, 700, false, 0, 0, 0};
}

std::string dialogCaption() {
    // The support number is a fictional one from the range kept free for examples.
    return " Corvane    " + std::string(MODEL_NAME) + "    Phone 555-0142";
}

Point centredPosition(Rect workArea, std::int32_t windowWidth, std::int32_t windowHeight) {
    const std::int32_t left = workArea.x;
    const std::int32_t top = workArea.y;
    const std::int32_t right = workArea.x + workArea.width;
    const std::int32_t bottom = workArea.y + workArea.height;
    const std::int32_t nx = left + right - windowWidth;
    const std::int32_t ny = top + bottom - windowHeight;
    return Point{nx < 0 ? 0 : nx / 2, ny < 0 ? 0 : ny / 2};
}

}  // namespace vkt5
