#include "serial/traced_port_service.h"

#include <cstdio>

namespace vkt5 {

std::string escapeWireBytes(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else if (byte >= 0x20 && byte < 0x7F && c != '\\') {
            out += c;
        } else {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", byte);
            out += hex;
        }
    }
    return out;
}

void TracedPortService::write(PortHandle handle, std::string_view what) {
    const std::int64_t micros = clock_();
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%lld.%06lld ", static_cast<long long>(micros / 1'000'000),
                  static_cast<long long>(micros % 1'000'000));
    const auto name = names_.find(handle);
    std::string line = stamp;
    line += name != names_.end() ? name->second : "#" + std::to_string(handle);
    line += ' ';
    line += what;
    sink_(line);
}

PortStatus TracedPortService::openPort(PortHandle handle, std::string_view name) {
    const PortStatus status = inner_.openPort(handle, name);
    // Only what opened is written down: a scan over absent ports would otherwise fill the trace
    // with one line per port and tick.
    if (status == PortStatus::Ok) {
        names_[handle] = std::string(name);
        const std::string device = inner_.lastOpenDetail().device;
        write(handle, device.empty() ? "open" : "open " + device);
    }
    return status;
}

ReceivedBytes TracedPortService::receiveBytes(PortHandle handle, std::int32_t count) {
    ReceivedBytes received = inner_.receiveBytes(handle, count);
    if (!received.text.empty()) {
        write(handle, "rx " + escapeWireBytes(received.text));
    }
    if (received.status != PortStatus::Ok) {
        write(handle, std::string("rx failed: ") + toString(received.status));
    }
    return received;
}

PortStatus TracedPortService::sendText(PortHandle handle, std::string_view text) {
    const PortStatus status = inner_.sendText(handle, text);
    if (!text.empty()) {
        write(handle, "tx " + escapeWireBytes(text));
    }
    if (status != PortStatus::Ok) {
        write(handle, std::string("tx failed: ") + toString(status));
    }
    return status;
}

PortStatus TracedPortService::closePort(PortHandle handle) {
    const PortStatus status = inner_.closePort(handle);
    if (names_.count(handle) != 0) {
        write(handle, "close");
        names_.erase(handle);
    }
    return status;
}

}  // namespace vkt5
