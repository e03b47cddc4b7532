// The firmware image a program carries inside its executable: for the command line on Linux
// compiled in from resources/vkt5_firmware.hex at build time (cmake/embed_file.cmake); on Windows,
// for the window and the command line alike, raw-data resource 203. Empty when it cannot be had.
#pragma once

#include <optional>
#include <string_view>

namespace vkt5::cli {

std::optional<std::string_view> carriedImage();

}  // namespace vkt5::cli
