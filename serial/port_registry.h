// SerialPortService over any SerialDeviceOpener: the handle table, the port-name rules, the
// read-ahead and the receive loop, which are the same on every platform.
//
// Handles run from 1 to MAX_PORT_HANDLE; a handle is bound to exactly one open device or free.
// The read-ahead of an open port never holds more than READ_AHEAD_SIZE bytes.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "serial/serial_device.h"
#include "serial/serial_port_service.h"

namespace vkt5 {

inline constexpr std::size_t MAX_PORT_NAME = 255;
inline constexpr std::size_t READ_AHEAD_SIZE = 512;

class PortRegistry final : public SerialPortService {
  public:
    explicit PortRegistry(SerialDeviceOpener& opener) : opener_(opener) {}

    PortHandle nextFreeHandle() override;
    PortStatus openPort(PortHandle handle, std::string_view name) override;
    PortStatus setPortOption(PortHandle handle, PortOption option, std::int32_t value) override;
    QueuedBytes queuedBytes(PortHandle handle) override;
    ReceivedBytes receiveBytes(PortHandle handle, std::int32_t count) override;
    PortStatus sendText(PortHandle handle, std::string_view text) override;
    PortStatus closePort(PortHandle handle) override;
    void pause(std::int32_t milliseconds) override;
    OpenDetail lastOpenDetail() const override { return lastOpen_; }
    std::intptr_t waitHandle(PortHandle handle) override;
    void keepSettingsOnClose(PortHandle handle) override;

  private:
    struct OpenPort {
        std::unique_ptr<SerialDevice> device;
        std::string name;
        std::string readAhead;
    };

    OpenPort* find(PortHandle handle);
    // receiveBytes without the guard that turns an allocation failure into OutOfMemory.
    ReceivedBytes receiveInto(PortHandle handle, std::int32_t count);

    SerialDeviceOpener& opener_;
    std::map<PortHandle, OpenPort> ports_;
    OpenDetail lastOpen_;
};

}  // namespace vkt5
