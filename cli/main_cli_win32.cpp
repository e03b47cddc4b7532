// vkt5-upgrade-cli.exe: the communications-API back-end and the run. Arguments come as the
// console gave them (the program's own names and options are ASCII).
#include <windows.h>

#include <string>
#include <vector>

#include "cli/carried_image.h"
#include "cli/cli_main.h"
#include "cli/cli_platform_win32.h"
#include "serial/serial_port_win32.h"

int main(int argc, char* argv[]) {
    const auto platform = vkt5::cli::makeWin32CliPlatform();
    const auto opener = vkt5::makeWin32SerialOpener();
    return vkt5::cli::cliMain(std::vector<std::string>(argv + 1, argv + argc), true, *platform,
                              *opener, vkt5::cli::carriedImage());
}
