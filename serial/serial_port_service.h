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

// What the scan found on one port, as far as the back-end and the scan can tell. A failed open
// reports one of the first four; the scan adds the last two once it has listened.
enum class PortState : std::int32_t {
    NotTried = 0,  // the scan has not reached this port yet
    Absent,        // no device under that name
    NotTerminal,   // something is there, but not a serial line (a file, /dev/null)
    NoPermission,  // the device exists, and this user may not open it
    InUse,         // another program holds it
    NoUnit,        // opened and listened to; no identification came
    Unit,          // the identification came
};

const char* toString(PortState state);

// How the last openPort went: the state above (NoUnit when it opened), and the device that
// stands behind the port name where that differs from the name ("/dev/ttyACM0" for "COM17"),
// else empty.
struct OpenDetail {
    PortState state = PortState::NotTried;
    std::string device;
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

    // Describes the most recent openPort call, successful or not.
    virtual OpenDetail lastOpenDetail() const = 0;

    // An operating-system object that becomes ready when the port has received bytes (a file
    // descriptor on Linux, an event handle on Windows), for a host that waits on the line instead
    // of polling it; NO_WAIT_HANDLE when the back-end has none. Asked again before every wait: a
    // back-end whose readiness must be re-armed does that here.
    virtual std::intptr_t waitHandle(PortHandle /*handle*/) { return NO_WAIT_HANDLE; }
    static constexpr std::intptr_t NO_WAIT_HANDLE = -1;

    // Closing a port puts back the settings the device had when it was opened, where the back-end
    // can (a port we only looked at is left as its owner had it). This port keeps ours instead:
    // it is the unit's. A back-end that puts nothing back ignores it.
    virtual void keepSettingsOnClose(PortHandle /*handle*/) {}
};

}  // namespace vkt5
