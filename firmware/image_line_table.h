// The carried firmware image as a table of lines. Entry i holds line i of the image without its
// CR LF; entries 0 to lineCount - 1 are the lines to send, entry lineCount holds whatever followed
// the last CR LF, and every later entry is empty. The table always has at least IMAGE_TABLE_SIZE
// entries and, for an image longer than that, one more than the image has lines, so no index the
// dialogue can reach lies outside it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vkt5 {

inline constexpr std::int32_t IMAGE_TABLE_SIZE = 7001;

// Version of the carried image, shown in the question. Must equal the version in the image header.
inline constexpr std::string_view IMAGE_VERSION = "V1.002";

using ImageLineTable = std::vector<std::string>;

}  // namespace vkt5
