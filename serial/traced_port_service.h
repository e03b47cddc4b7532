// A SerialPortService that passes every call to another one and writes down what went over the
// wire: each send and each receive as one line with the time, the port's name, the direction and
// the bytes, and each open and close. The bytes are escaped so that any value stays readable:
// printable ASCII as it is, \r and \n, and \xNN (upper-case hex) for every other byte and for
// the backslash itself. A line reads
//
//     12.345678 COM3 tx Y\r\n
//
// with the seconds from the clock, "tx" for bytes the program sent and "rx" for bytes it received.
// The decorator changes nothing that passes through it; the clock and the sink are the caller's,
// so the core stays free of files and system clocks.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>

#include "serial/serial_port_service.h"

namespace vkt5 {

// Escapes bytes as the trace writes them.
std::string escapeWireBytes(std::string_view bytes);

class TracedPortService final : public SerialPortService {
  public:
    using Clock = std::function<std::int64_t()>;              // microseconds, from any fixed start
    using Sink = std::function<void(std::string_view line)>;  // one line, without its line end

    TracedPortService(SerialPortService& inner, Clock clock, Sink sink)
        : inner_(inner), clock_(std::move(clock)), sink_(std::move(sink)) {}

    PortHandle nextFreeHandle() override { return inner_.nextFreeHandle(); }
    PortStatus openPort(PortHandle handle, std::string_view name) override;
    PortStatus setPortOption(PortHandle handle, PortOption option, std::int32_t value) override {
        return inner_.setPortOption(handle, option, value);
    }
    QueuedBytes queuedBytes(PortHandle handle) override { return inner_.queuedBytes(handle); }
    ReceivedBytes receiveBytes(PortHandle handle, std::int32_t count) override;
    PortStatus sendText(PortHandle handle, std::string_view text) override;
    PortStatus closePort(PortHandle handle) override;
    void pause(std::int32_t milliseconds) override { inner_.pause(milliseconds); }
    OpenDetail lastOpenDetail() const override { return inner_.lastOpenDetail(); }
    std::intptr_t waitHandle(PortHandle handle) override { return inner_.waitHandle(handle); }

  private:
    void write(PortHandle handle, std::string_view what);

    SerialPortService& inner_;
    Clock clock_;
    Sink sink_;
    std::map<PortHandle, std::string> names_;  // the ports open now, by handle
};

}  // namespace vkt5
