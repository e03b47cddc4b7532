// Scans the paths given, one round, the way the program does, and prints what it found on each
// ("PATH<tab>STATE") and the search screen's note ("note: TEXT"). The port tests run it as another
// user, to see a device that user may not open.
#include <cstdio>

#include "scan_round.h"
#include "serial/port_registry.h"
#include "serial/scan_note.h"
#include "serial/serial_port_posix.h"

int main(int argc, char** argv) {
    std::vector<std::string> names(argv + 1, argv + argc);
    if (names.empty()) {
        std::fprintf(stderr, "usage: vkt5-port-probe PATH...\n");
        return 2;
    }
    const auto opener = vkt5::makePosixSerialOpener();
    vkt5::PortRegistry ports(*opener);
    vkt5::UpgradeState state;
    vkt5::test::scanOneRound(state, ports, names);
    for (std::size_t i = 0; i < state.portReports.size(); ++i) {
        std::printf("%s\t%s\n", names[i].c_str(), vkt5::toString(state.portReports[i].state));
    }
    std::printf("note:%s\n", vkt5::scanNote(state).c_str());
    return 0;
}
