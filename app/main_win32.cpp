// The Windows entry point: the Win32 dialog manager for the window, the communications API for
// the ports, and the shared start-up. The command line means nothing to the program. The exit
// status is 0 on every path. VKT5_TRACE=FILE writes the wire trace of every port to FILE;
// VKT5_FAST=1 answers the unit as its bytes arrive (see README).
#include <windows.h>

#include <cstdlib>
#include <memory>
#include <optional>
#include <string_view>

#include "app/startup.h"
#include "app/upgrade_state.h"
#include "app/wire_trace_file.h"
#include "cli/carried_image.h"
#include "serial/port_registry.h"
#include "serial/serial_port_win32.h"
#include "ui/win32/win32_main_dialog.h"

int WINAPI WinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, LPSTR /*commandLine*/,
                   int /*show*/) {
    const std::optional<std::string_view> image = vkt5::cli::carriedImage();
    const std::unique_ptr<vkt5::SerialDeviceOpener> opener = vkt5::makeWin32SerialOpener();
    vkt5::PortRegistry registry(*opener);
    vkt5::WireTraceFile trace(registry, std::getenv("VKT5_TRACE"));
    vkt5::Win32MainDialog dialog;
    // The record holds the 7001-entry image table; it lives on the heap, not on the stack.
    const auto state = std::make_unique<vkt5::UpgradeState>();
    vkt5::startUp(*state, image, dialog, trace.ports(),
                  vkt5::pacingFromEnvironment(std::getenv("VKT5_FAST")));
    return 0;
}
