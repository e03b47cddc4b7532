// The Linux entry point: Qt for the window, termios for the ports, and the shared start-up.
// Command-line arguments mean nothing to the program; Qt may take its own (such as -platform)
// from a copy of them. VKT5_FAST=1 answers the unit as its bytes arrive (see README). The exit
// status is 0 on every path.
#include <QApplication>
#include <QFile>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/startup.h"
#include "app/upgrade_state.h"
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

}  // namespace

int main(int argc, char* argv[]) {
    // QApplication keeps references to argc and argv and removes the options it understands;
    // it gets a copy, so the program's own view of its arguments stays untouched.
    int qtArgc = argc;
    std::vector<char*> qtArgv(argv, argv + argc);
    qtArgv.push_back(nullptr);
    QApplication application(qtArgc, qtArgv.data());

    const std::optional<std::string> image = readCarriedImage();
    std::optional<std::string_view> imageView;
    if (image) {
        imageView = *image;
    }

    const std::unique_ptr<vkt5::SerialDeviceOpener> opener = vkt5::makePosixSerialOpener();
    vkt5::PortRegistry ports(*opener);
    vkt5::QtMainDialog dialog;
    // The record holds the 7001-entry image table; it lives on the heap, not on main's stack.
    const auto state = std::make_unique<vkt5::UpgradeState>();
    vkt5::startUp(*state, imageView, dialog, ports,
                  vkt5::pacingFromEnvironment(std::getenv("VKT5_FAST")));
    return 0;
}
