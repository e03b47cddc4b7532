// The program's only way to a serial device. It hands out numbered port handles, opens a device
// under one, changes one line setting at a time, reports and hands over received bytes, writes
// text and closes. Bytes pass unchanged in both directions, NUL included.
//
// Every back-end behaves alike towards the rest of the program: failures come back as a
// PortStatus, never as an exception; reading bytes already waiting and closing never wait on the
// line; a send returns once the device has taken every byte.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vkt5 {

// A positive number naming one open port, at most 32767; 0 means no port.
using PortHandle = std::int32_t;
inline constexpr PortHandle MAX_PORT_HANDLE = 32767;

enum class PortStatus : std::int32_t {
    Ok = 0,
    InvalidArgument,
    OutOfMemory,
    IncompleteTransfer,
    BadHandle,
    HandleInUse,
    LineError,
    BadPortName,
    DeviceUnavailable,
    SystemError,  // any other failure the operating system reports
};

const char* toString(PortStatus status);

enum class PortOption : std::int32_t {
    BaudRate,       // bits per second
    DataBits,       // bits per character; 8 also means one stop bit, no parity, no parity check
    ParityCheck,    // 0 off, else on
    StopBits,       // 0 one, 1 one and a half, 2 two
    ReceiveQueue,   // recommended receive queue size in bytes
    TransmitQueue,  // recommended transmit queue size in bytes
    DtrHandshake,   // DTR mode: on = receive handshake, 0 = held off
    DtrLine,        // DTR mode: on = held on, 0 = held off
};

struct QueuedBytes {
    std::int32_t count = 0;
    PortStatus status = PortStatus::Ok;
};

struct ReceivedBytes {
    std::string text;
    PortStatus status = PortStatus::Ok;
};

class SerialPortService {
  public:
    virtual ~SerialPortService() = default;

    virtual PortHandle nextFreeHandle() = 0;
    virtual PortStatus openPort(PortHandle handle, std::string_view name) = 0;
    virtual PortStatus setPortOption(PortHandle handle, PortOption option, std::int32_t value) = 0;
    virtual QueuedBytes queuedBytes(PortHandle handle) = 0;
    virtual ReceivedBytes receiveBytes(PortHandle handle, std::int32_t count) = 0;
    virtual PortStatus sendText(PortHandle handle, std::string_view text) = 0;
    virtual PortStatus closePort(PortHandle handle) = 0;
    virtual void pause(std::int32_t milliseconds) = 0;
};

}  // namespace vkt5
