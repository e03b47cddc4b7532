#include "firmware/image_loader.h"

#include <algorithm>

namespace vkt5 {

namespace {

constexpr std::string_view CRLF = "\r\n";

std::int32_t countLineEnds(std::string_view text) {
    std::int32_t count = 0;
    for (std::size_t at = text.find(CRLF); at != std::string_view::npos;
         at = text.find(CRLF, at + CRLF.size())) {
        ++count;
    }
    return count;
}

}  // namespace

bool loadImage(UpgradeState& state) {
    const std::string_view text = state.scratch;
    state.lineCount = countLineEnds(text);

    // Room for every line and the tail after the last line end, never fewer than the fixed size:
    // an oversized image must not let the dialogue index past the table.
    const auto needed = static_cast<std::size_t>(state.lineCount) + 1;
    state.imageLines.assign(std::max<std::size_t>(IMAGE_TABLE_SIZE, needed), std::string());

    std::size_t start = 0;
    for (std::size_t k = 0; k < needed; ++k) {
        const std::size_t end = text.find(CRLF, start);
        if (end == std::string_view::npos) {
            state.imageLines[k] = std::string(text.substr(start));
            break;
        }
        state.imageLines[k] = std::string(text.substr(start, end - start));
        start = end + CRLF.size();
    }
    state.linesSent = 0;
    return state.lineCount > 0;
}

}  // namespace vkt5
