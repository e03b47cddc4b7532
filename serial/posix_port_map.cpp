#include "serial/posix_port_map.h"

#include <cctype>

namespace vkt5 {

namespace {

std::string_view trimmed(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && blank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && blank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(a[i])) !=
            std::toupper(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::int32_t portNumberOf(std::string_view name) {
    constexpr std::string_view devicePrefix = "\\\\.\\";
    if (name.substr(0, devicePrefix.size()) == devicePrefix) {
        name.remove_prefix(devicePrefix.size());
    }
    if (name.size() < 4 || !equalsIgnoringCase(name.substr(0, 3), "COM")) {
        return 0;
    }
    const std::string_view digits = name.substr(3);
    if (digits.size() > 2 || digits.front() == '0') {
        return 0;
    }
    std::int32_t number = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') {
            return 0;
        }
        number = number * 10 + (c - '0');
    }
    return number <= POSIX_PORT_COUNT ? number : 0;
}

PosixPortMap::PosixPortMap(std::optional<std::string_view> portsVariable) {
    if (!portsVariable) {
        for (std::size_t i = 0; i < 16; ++i) {
            devices_[i] = "/dev/ttyUSB" + std::to_string(i);
            devices_[16 + i] = "/dev/ttyACM" + std::to_string(i);
        }
        for (std::size_t i = 0; i < 17; ++i) {
            devices_[32 + i] = "/dev/ttyS" + std::to_string(i);
        }
        return;
    }
    std::string_view rest = *portsVariable;
    for (std::size_t k = 0; k < devices_.size(); ++k) {
        const std::size_t comma = rest.find(',');
        devices_[k] = std::string(trimmed(rest.substr(0, comma)));
        if (comma == std::string_view::npos) {
            break;
        }
        rest.remove_prefix(comma + 1);
    }
}

std::optional<std::string> PosixPortMap::devicePath(std::string_view name) const {
    const std::int32_t number = portNumberOf(name);
    if (number == 0) {
        return std::string(name);
    }
    const std::string& device = devices_[static_cast<std::size_t>(number - 1)];
    if (device.empty()) {
        return std::nullopt;
    }
    return device;
}

}  // namespace vkt5
