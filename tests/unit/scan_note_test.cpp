// The search screen's note: which fact of a round wins, and how it names the port.
#include "serial/scan_note.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vkt5 {
namespace {

using S = PortState;

UpgradeState withReports(std::vector<OpenDetail> reports, std::vector<std::string> names = {}) {
    UpgradeState state;
    state.scanNames = std::move(names);
    state.portReports = std::move(reports);
    if (state.scanNames.empty()) {
        state.portReports.resize(49);
    }
    return state;
}

TEST(ScanNote, TheMostUsefulFactOfTheRoundWins) {
    const std::string tty = "/dev/ttyACM0";
    struct Case {
        std::vector<OpenDetail> reports;  // COM1, COM2, ... (the rest absent)
        std::string note;
    };
    const Case cases[] = {
        {{}, ""},
        {{{S::Absent, "/dev/ttyUSB0"}, {S::NotTried, {}}}, ""},
        {{{S::NotTerminal, "/dev/ttyUSB0"}}, " /dev/ttyUSB0 (COM1) is not a serial port"},
        {{{S::NotTerminal, {}}, {S::NoUnit, {}}}, " No VKT-5 answered on COM2"},
        {{{S::NoUnit, {}}, {S::NoUnit, {}}}, " No VKT-5 answered on COM1 or 1 other port"},
        {{{S::NoUnit, {}}, {S::NoUnit, {}}, {S::NoUnit, {}}},
         " No VKT-5 answered on COM1 or 2 other ports"},
        {{{S::NoUnit, {}}, {S::Unit, {}}}, " VKT-5 on COM2 stopped answering; power it up again"},
        {{{S::Unit, {}}, {S::InUse, {}}}, " COM2 is in use by another program"},
        {{{S::InUse, {}}, {S::NoPermission, tty}, {S::NoPermission, "/dev/ttyACM1"}},
         " /dev/ttyACM0 (COM2): no permission - join the dialout group and log in again"},
        {{{S::NoUnit, {}}, {S::NotTerminal, {}}, {S::InUse, {}}, {S::Absent, {}}},
         " COM3 is in use by another program"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(scanNote(withReports(c.reports)), c.note) << c.note;
    }
}

TEST(ScanNote, NamesPortsAsTheUserKnowsThem) {
    UpgradeState state = withReports({});
    state.portReports[9] = {S::InUse, {}};  // opened as "\\.\COM10"
    EXPECT_EQ(scanNote(state), " COM10 is in use by another program");
    state.portReports[16] = {S::NoPermission, "/dev/ttyACM0"};
    EXPECT_EQ(notePortName(state, 17), "/dev/ttyACM0 (COM17)");

    // A host that scans by path: the path is the name, said once.
    const UpgradeState byPath =
        withReports({{S::Absent, "/tmp/x"}, {S::InUse, "/dev/pts/7"}}, {"/tmp/x", "/dev/pts/7"});
    EXPECT_EQ(scanNote(byPath), " /dev/pts/7 is in use by another program");
}

}  // namespace
}  // namespace vkt5
