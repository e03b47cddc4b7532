#include "serial/posix_port_map.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace vkt5 {
namespace {

struct MapCase {
    std::optional<std::string> portsVariable;  // nullopt: VKT5_PORTS not set
    std::string name;
    std::optional<std::string> device;  // nullopt: a port without a device
};

void PrintTo(const MapCase& c, std::ostream* os) {
    *os << "VKT5_PORTS=" << (c.portsVariable ? "\"" + *c.portsVariable + "\"" : "(unset)")
        << " name=\"" << c.name << "\"";
}

class PortMapTest : public ::testing::TestWithParam<MapCase> {};

TEST_P(PortMapTest, NameGivesDevice) {
    const MapCase& c = GetParam();
    const PosixPortMap map =
        c.portsVariable ? PosixPortMap(std::string_view(*c.portsVariable)) : PosixPortMap();
    EXPECT_EQ(map.devicePath(c.name), c.device);
}

const std::string fiftyEntries = [] {
    std::string list;
    for (int k = 1; k <= 50; ++k) {
        list += (k > 1 ? "," : "") + std::string("/dev/pts/") + std::to_string(k);
    }
    return list;
}();

INSTANTIATE_TEST_SUITE_P(BuiltInTable, PortMapTest,
                         ::testing::Values(MapCase{std::nullopt, "COM1", "/dev/ttyUSB0"},
                                           MapCase{std::nullopt, "COM9", "/dev/ttyUSB8"},
                                           MapCase{std::nullopt, "\\\\.\\COM10", "/dev/ttyUSB9"},
                                           MapCase{std::nullopt, "\\\\.\\COM16", "/dev/ttyUSB15"},
                                           MapCase{std::nullopt, "\\\\.\\COM17", "/dev/ttyACM0"},
                                           MapCase{std::nullopt, "\\\\.\\COM32", "/dev/ttyACM15"},
                                           MapCase{std::nullopt, "\\\\.\\COM33", "/dev/ttyS0"},
                                           MapCase{std::nullopt, "\\\\.\\COM49", "/dev/ttyS16"},
                                           MapCase{std::nullopt, "COM49", "/dev/ttyS16"},
                                           MapCase{std::nullopt, "\\\\.\\COM5", "/dev/ttyUSB4"},
                                           MapCase{std::nullopt, "com3", "/dev/ttyUSB2"},
                                           // Not one of the 49 names: a path as it stands.
                                           MapCase{std::nullopt, "COM50", "COM50"},
                                           MapCase{std::nullopt, "COM0", "COM0"},
                                           MapCase{std::nullopt, "COM05", "COM05"},
                                           MapCase{std::nullopt, "COM+5", "COM+5"},
                                           MapCase{std::nullopt, "COM", "COM"},
                                           MapCase{std::nullopt, "COM1x", "COM1x"},
                                           MapCase{std::nullopt, "\\\\.\\COM", "\\\\.\\COM"},
                                           MapCase{std::nullopt, "/dev/pts/7", "/dev/pts/7"}));

INSTANTIATE_TEST_SUITE_P(
    FromEnvironment, PortMapTest,
    ::testing::Values(MapCase{"/dev/pts/3,,/dev/pts/5", "COM1", "/dev/pts/3"},
                      MapCase{"/dev/pts/3,,/dev/pts/5", "COM2", std::nullopt},
                      MapCase{"/dev/pts/3,,/dev/pts/5", "\\\\.\\COM3", "/dev/pts/5"},
                      MapCase{"/dev/pts/3,,/dev/pts/5", "COM4", std::nullopt},
                      MapCase{"/dev/pts/3,,/dev/pts/5", "COM49", std::nullopt},
                      MapCase{"/dev/pts/3,,/dev/pts/5", "/dev/ttyS0", "/dev/ttyS0"},
                      MapCase{"", "COM1", std::nullopt},
                      MapCase{",/dev/pts/4,", "COM2", "/dev/pts/4"},
                      MapCase{",/dev/pts/4,", "COM3", std::nullopt},
                      MapCase{" /dev/pts/3 ,\t/dev/pts/4", "COM2", "/dev/pts/4"},
                      MapCase{fiftyEntries, "COM49", "/dev/pts/49"},
                      MapCase{fiftyEntries, "\\\\.\\COM10", "/dev/pts/10"}));

}  // namespace
}  // namespace vkt5
