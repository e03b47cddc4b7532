// The operating-system half of an open port. A back-end (termios, Win32) implements SerialDevice
// for one open device and SerialDeviceOpener to open one by name; PortRegistry adds what every
// back-end shares: handles, the name rules, the 512-byte read-ahead and the receive loop.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "serial/serial_port_service.h"

namespace vkt5 {

class SerialDevice {
  public:
    virtual ~SerialDevice() = default;

    // Read-modify-write of the device configuration for one option.
    virtual PortStatus setOption(PortOption option, std::int32_t value) = 0;

    // Bytes the device holds, not counting the registry's read-ahead. LineError when the device
    // flagged a line error since the previous look (the look clears it); any other non-Ok status
    // when the device cannot be asked, for instance because it went away.
    virtual QueuedBytes queued() = 0;

    // Takes up to maxBytes of the bytes already queued, without waiting. An empty text with Ok
    // means nothing was there; DeviceUnavailable means the read failed.
    virtual ReceivedBytes read(std::int32_t maxBytes) = 0;

    // Writes every byte, returning once the device has accepted them all; IncompleteTransfer when
    // it fails or takes fewer.
    virtual PortStatus write(std::string_view bytes) = 0;

    // See SerialPortService::waitHandle.
    virtual std::intptr_t waitHandle() { return SerialPortService::NO_WAIT_HANDLE; }

    // See SerialPortService::keepSettingsOnClose.
    virtual void keepSettings() {}
};

// A failed open says why in `detail.state`; a successful one leaves it NoUnit. `detail.device`
// names the device behind the port name, when there is one.
struct OpenedDevice {
    std::unique_ptr<SerialDevice> device;
    PortStatus status = PortStatus::Ok;
    OpenDetail detail{PortState::NoUnit, {}};
};

class SerialDeviceOpener {
  public:
    virtual ~SerialDeviceOpener() = default;

    // Opens the named device exclusively, read and write, only if it exists. The name has
    // already passed the registry's rules. DeviceUnavailable when absent, busy, refused, or not a
    // serial device at all.
    virtual OpenedDevice open(std::string_view name) = 0;

    virtual void sleepMilliseconds(std::int32_t milliseconds) = 0;
};

}  // namespace vkt5
