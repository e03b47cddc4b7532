// vkt5-upgrade-cli on Linux: the termios back-end (with VKT5_PORTS as the window reads it) and
// the run.
#include <string>
#include <vector>

#include "cli/carried_image.h"
#include "cli/cli_main.h"
#include "cli/cli_platform_posix.h"
#include "serial/serial_port_posix.h"

int main(int argc, char* argv[]) {
    const auto platform = vkt5::cli::makePosixCliPlatform();
    const auto opener = vkt5::makePosixSerialOpener();
    return vkt5::cli::cliMain(std::vector<std::string>(argv + 1, argv + argc), false, *platform,
                              *opener, vkt5::cli::carriedImage());
}
