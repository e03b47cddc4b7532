// The firmware image the command line carries inside its executable: on Linux compiled in from
// resources/vkt5_firmware.hex at build time (cmake/embed_file.cmake), on Windows the same raw-data
// resource the window uses. Empty when it cannot be had.
#pragma once

#include <optional>
#include <string_view>

namespace vkt5::cli {

std::optional<std::string_view> carriedImage();

}  // namespace vkt5::cli
