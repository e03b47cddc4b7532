// The Linux entry point: Qt for the window, termios for the ports, and the shared start-up.
// Command-line arguments mean nothing to the program, Qt's own (-platform, -reverse) included:
// Qt sees the program's name alone. Without a display it says so and points at the command line
// (exit status 1); otherwise the exit status is 0 on every path. VKT5_TRACE=FILE writes the wire
// trace of every port to FILE; VKT5_FAST=1 answers the unit as its bytes arrive (see README).
#include <QApplication>
#include <QFile>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/startup.h"
#include "app/upgrade_state.h"
#include "app/wire_trace_file.h"
#include "serial/port_registry.h"
#include "serial/serial_port_posix.h"
#include "ui/qt/qt_main_dialog.h"

namespace {

std::optional<std::string> readCarriedImage() {
    QFile file(QStringLiteral(":/vkt5_firmware.hex"));
    if (!file.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    const QByteArray bytes = file.readAll();
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

bool haveDisplay() {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0') {
            return true;
        }
    }
    return false;
}

}  // namespace

int main(int argc, char* argv[]) {
    // Qt would abort without a display; a user on a console is better served by a pointer.
    if (!haveDisplay()) {
        std::fputs("vkt5-upgrade needs a graphical display; without one, use vkt5-upgrade-cli\n",
                   stderr);
        return 1;
    }
    // QApplication keeps references to argc and argv: both live as long as main.
    int qtArgc = argc > 0 ? 1 : 0;
    std::vector<char*> qtArgv(argv, argv + qtArgc);
    qtArgv.push_back(nullptr);
    QApplication application(qtArgc, qtArgv.data());

    const std::optional<std::string> image = readCarriedImage();
    std::optional<std::string_view> imageView;
    if (image) {
        imageView = *image;
    }

    const std::unique_ptr<vkt5::SerialDeviceOpener> opener = vkt5::makePosixSerialOpener();
    vkt5::PortRegistry registry(*opener);
    vkt5::WireTraceFile trace(registry, std::getenv("VKT5_TRACE"));
    vkt5::QtMainDialog dialog;
    // The record holds the 7001-entry image table; it lives on the heap, not on main's stack.
    const auto state = std::make_unique<vkt5::UpgradeState>();
    vkt5::startUp(*state, imageView, dialog, trace.ports(),
                  vkt5::pacingFromEnvironment(std::getenv("VKT5_FAST")));
    return 0;
}
