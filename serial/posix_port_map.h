// Which device stands behind a port name on Linux. The program opens ports by their Windows
// names, COM1 to COM49 (also in the "\\.\COMn" form); a table turns each into a device path.
// The built-in table gives COM1-16 to /dev/ttyUSB0-15, COM17-32 to /dev/ttyACM0-15 and
// COM33-49 to /dev/ttyS0-16. A VKT5_PORTS value replaces the whole table: a comma-separated list
// whose k-th entry is the device for COMk; an empty or missing entry means that port has no
// device. Any name that is not one of the 49 port names is taken as a device path as it stands.
//
// Pure text logic: the environment is read by whoever builds the map, never here.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vkt5 {

inline constexpr std::int32_t POSIX_PORT_COUNT = 49;
inline constexpr const char* PORTS_ENVIRONMENT_VARIABLE = "VKT5_PORTS";

class PosixPortMap {
  public:
    // The built-in table, or the table a VKT5_PORTS value describes when one is given (an empty
    // value counts: it names no device at all).
    explicit PosixPortMap(std::optional<std::string_view> portsVariable = std::nullopt);

    // The device to open for a port name; nullopt when the name is a port without a device.
    std::optional<std::string> devicePath(std::string_view name) const;

  private:
    std::array<std::string, POSIX_PORT_COUNT> devices_;  // "" = no device
};

// 1..49 for "COMn" or "\\.\COMn" written the way the program writes numbers (decimal digits, no
// sign, no leading zero); 0 for anything else. "COM" matches in any case, as it does on Windows.
std::int32_t portNumberOf(std::string_view name);

}  // namespace vkt5
