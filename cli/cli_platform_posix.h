// The command line's platform on Linux: a steady clock, ppoll over the watched ports, standard
// input and the beat, and Ctrl+C as a flag. SIGINT is blocked except inside ppoll, so a Ctrl+C
// always ends the wait it arrives in and is never lost between two waits.
#pragma once

#include <memory>

#include "cli/cli_platform.h"

namespace vkt5::cli {

std::unique_ptr<CliPlatform> makePosixCliPlatform();

}  // namespace vkt5::cli
