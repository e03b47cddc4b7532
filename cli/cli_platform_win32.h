// The command line's platform on Windows: a 15 ms periodic waitable timer (with the system timer
// at 1 ms so that it keeps time), Ctrl+C through a console handler, and the console streams. The
// ports are not waited on here: --fast runs on the beat alone for now.
#pragma once

#include <memory>

#include "cli/cli_platform.h"

namespace vkt5::cli {

std::unique_ptr<CliPlatform> makeWin32CliPlatform();

}  // namespace vkt5::cli
