#include "serial/serial_port_win32.h"

#include <windows.h>

#include <limits>
#include <string>
#include <utility>

namespace vkt5 {

namespace {

// Keeps the "insert a disk" and "cannot open file" boxes away while a device call runs, and puts
// the thread's previous mode back afterwards.
class QuietErrorMode {
  public:
    QuietErrorMode() {
        if (!SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &previous_)) {
            restore_ = false;
        }
    }
    ~QuietErrorMode() {
        if (restore_) {
            SetThreadErrorMode(previous_, nullptr);
        }
    }
    QuietErrorMode(const QuietErrorMode&) = delete;
    QuietErrorMode& operator=(const QuietErrorMode&) = delete;

  private:
    DWORD previous_ = 0;
    bool restore_ = true;
};

// Port names are plain ASCII; anything above it is taken in the active code page, as the ANSI
// functions would. A NUL inside the name would make the wide call see a shorter name and open
// another device, so such a name names nothing.
bool wideName(std::string_view name, std::wstring& out) {
    if (name.find('\0') != std::string_view::npos) {
        return false;
    }
    const int length =
        MultiByteToWideChar(CP_ACP, 0, name.data(), static_cast<int>(name.size()), nullptr, 0);
    if (length <= 0) {
        return false;
    }
    out.assign(static_cast<std::size_t>(length), L'\0');
    return MultiByteToWideChar(CP_ACP, 0, name.data(), static_cast<int>(name.size()), out.data(),
                               length) == length;
}

// The error flags that mean received characters were lost or garbled. Parity errors and breaks
// are not among them.
constexpr DWORD LINE_ERRORS = CE_RXOVER | CE_OVERRUN | CE_FRAME | CE_TXFULL | CE_IOE;

// What the device calls fail with once the device behind an open handle has gone: a USB adapter
// pulled out (its driver answers access denied, bad command, general failure, device removed or
// not connected, or cancels the call), a handle the system invalidated, and under Wine a pty whose
// other side has closed (the EIO of the pty becomes "not ready").
bool deviceRemoved(DWORD error) {
    switch (error) {
        case ERROR_ACCESS_DENIED:
        case ERROR_BAD_COMMAND:
        case ERROR_DEVICE_REMOVED:
        case ERROR_DEVICE_NOT_CONNECTED:
        case ERROR_GEN_FAILURE:
        case ERROR_OPERATION_ABORTED:
        case ERROR_INVALID_HANDLE:
        case ERROR_FILE_NOT_FOUND:
        case ERROR_NOT_READY:
            return true;
        default:
            return false;
    }
}

// Waits for an overlapped operation that did not complete at once. Every operation here is
// short (a read of bytes already counted, a write the driver takes), so waiting keeps the
// device synchronous towards the caller.
bool finish(HANDLE handle, OVERLAPPED& io, BOOL started, DWORD& transferred) {
    if (started) {
        return GetOverlappedResult(handle, &io, &transferred, FALSE) != FALSE;
    }
    if (GetLastError() != ERROR_IO_PENDING) {
        return false;
    }
    return GetOverlappedResult(handle, &io, &transferred, TRUE) != FALSE;
}

// A read that waits for the first byte and no longer: with both of these at MAXDWORD, ReadFile
// returns at once with whatever is queued, or waits for one byte to arrive, or gives up after the
// constant (then the host is woken for nothing and asks again).
constexpr COMMTIMEOUTS FIRST_BYTE_TIMEOUTS{MAXDWORD, MAXDWORD, 60000, 0, 0};

class Win32SerialDevice final : public SerialDevice {
  public:
    Win32SerialDevice(HANDLE handle, HANDLE ioEvent, HANDLE rxEvent)
        : handle_(handle), ioEvent_(ioEvent), rxEvent_(rxEvent) {}

    ~Win32SerialDevice() override {
        const QuietErrorMode quiet;
        settleWait(true);
        CloseHandle(handle_);
        CloseHandle(ioEvent_);
        CloseHandle(rxEvent_);
    }

    Win32SerialDevice(const Win32SerialDevice&) = delete;
    Win32SerialDevice& operator=(const Win32SerialDevice&) = delete;

    PortStatus setOption(PortOption option, std::int32_t value) override {
        const QuietErrorMode quiet;
        switch (option) {
            case PortOption::ReceiveQueue:
            case PortOption::TransmitQueue:
                return setQueue(option, value);
            default:
                return changeState(option, value);
        }
    }

    // The waiting read's byte, once it has one, counts as queued. It is collected before the
    // driver's queue is counted, so that no byte is ever counted twice.
    QueuedBytes queued() override {
        const QuietErrorMode quiet;
        settleWait(false);
        DWORD errors = 0;
        COMSTAT status{};
        if (!ClearCommError(handle_, &errors, &status)) {
            // Either way the port is of no more use; the status tells a removed device from any
            // other refusal.
            return {0, deviceRemoved(GetLastError()) ? PortStatus::DeviceUnavailable
                                                     : PortStatus::SystemError};
        }
        if ((errors & LINE_ERRORS) != 0) {
            return {0, PortStatus::LineError};
        }
        const std::uint64_t count = std::uint64_t{status.cbInQue} + held_.size();
        if (count > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max())) {
            return {std::numeric_limits<std::int32_t>::max(), PortStatus::Ok};
        }
        return {static_cast<std::int32_t>(count), PortStatus::Ok};
    }

    // The caller asks only for what queued() counted, so the read never waits: a waiting read is
    // ended first (its byte comes first), and the driver is asked only for the rest.
    ReceivedBytes read(std::int32_t maxBytes) override {
        if (maxBytes < 1) {
            return {{}, PortStatus::Ok};
        }
        const QuietErrorMode quiet;
        settleWait(true);
        const auto wanted = static_cast<std::size_t>(maxBytes);
        std::string text = held_.substr(0, wanted);
        held_.erase(0, text.size());
        if (text.size() == wanted) {
            return {std::move(text), PortStatus::Ok};
        }
        const std::size_t start = text.size();
        text.resize(wanted);
        OVERLAPPED io{};
        io.hEvent = ioEvent_;
        DWORD got = 0;
        const BOOL started = ReadFile(handle_, text.data() + start,
                                      static_cast<DWORD>(wanted - start), nullptr, &io);
        if (!finish(handle_, io, started, got)) {
            return {{}, PortStatus::DeviceUnavailable};
        }
        text.resize(start + got);
        return {std::move(text), PortStatus::Ok};
    }

    PortStatus write(std::string_view bytes) override {
        if (bytes.empty()) {
            return PortStatus::Ok;
        }
        if (bytes.size() > std::numeric_limits<DWORD>::max()) {
            return PortStatus::IncompleteTransfer;
        }
        const QuietErrorMode quiet;
        OVERLAPPED io{};
        io.hEvent = ioEvent_;
        DWORD put = 0;
        const BOOL started =
            WriteFile(handle_, bytes.data(), static_cast<DWORD>(bytes.size()), nullptr, &io);
        if (!finish(handle_, io, started, put) || put != bytes.size()) {
            return PortStatus::IncompleteTransfer;
        }
        return PortStatus::Ok;
    }

    // The event is set by a one-byte overlapped read that waits for the first byte to arrive
    // (an overlapped WaitCommEvent would be the textbook way, but under Wine it ends at once,
    // cancelled, on a port behind a pseudo-terminal, every time). A byte already taken, or one
    // there when the read starts, sets the event at once.
    std::intptr_t waitHandle() override {
        const QuietErrorMode quiet;
        settleWait(false);
        if (!held_.empty()) {
            SetEvent(rxEvent_);
            return reinterpret_cast<std::intptr_t>(rxEvent_);
        }
        if (waitPending_) {
            return reinterpret_cast<std::intptr_t>(rxEvent_);
        }
        if (!timeoutsSet_) {
            COMMTIMEOUTS timeouts = FIRST_BYTE_TIMEOUTS;
            if (!SetCommTimeouts(handle_, &timeouts)) {
                return SerialPortService::NO_WAIT_HANDLE;  // the ticks alone, then
            }
            timeoutsSet_ = true;
        }
        ResetEvent(rxEvent_);
        waitRead_ = OVERLAPPED{};
        waitRead_.hEvent = rxEvent_;
        if (ReadFile(handle_, &waitByte_, 1, nullptr, &waitRead_)) {
            waitPending_ = true;
            settleWait(false);
            SetEvent(rxEvent_);
        } else if (GetLastError() == ERROR_IO_PENDING) {
            waitPending_ = true;
        } else {
            // A device that cannot be read is seen as gone by the next look at its queue.
            return SerialPortService::NO_WAIT_HANDLE;
        }
        return reinterpret_cast<std::intptr_t>(rxEvent_);
    }

  private:
    // One read-modify-write of the whole device control block.
    PortStatus changeState(PortOption option, std::int32_t value) {
        DCB dcb{};
        dcb.DCBlength = sizeof(dcb);
        if (!GetCommState(handle_, &dcb)) {
            return PortStatus::SystemError;
        }
        switch (option) {
            case PortOption::BaudRate:
                if (value <= 0) {
                    return PortStatus::InvalidArgument;
                }
                dcb.BaudRate = static_cast<DWORD>(value);
                break;
            case PortOption::DataBits:
                if (value < 0 || value > 255) {
                    return PortStatus::InvalidArgument;
                }
                dcb.ByteSize = static_cast<BYTE>(value);
                if (value == 8) {
                    dcb.StopBits = ONESTOPBIT;
                    dcb.Parity = NOPARITY;
                    dcb.fParity = FALSE;
                }
                break;
            case PortOption::ParityCheck:
                dcb.fParity = value != 0 ? TRUE : FALSE;
                break;
            case PortOption::StopBits:
                if (value != ONESTOPBIT && value != ONE5STOPBITS && value != TWOSTOPBITS) {
                    return PortStatus::InvalidArgument;
                }
                dcb.StopBits = static_cast<BYTE>(value);
                break;
            case PortOption::DtrHandshake:
                dcb.fDtrControl = value != 0 ? DTR_CONTROL_HANDSHAKE : DTR_CONTROL_DISABLE;
                break;
            case PortOption::DtrLine:
                dcb.fDtrControl = value != 0 ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
                break;
            default:
                return PortStatus::InvalidArgument;
        }
        return SetCommState(handle_, &dcb) ? PortStatus::Ok : PortStatus::InvalidArgument;
    }

    // SetupComm always takes both sizes; the queue not named keeps the size it has now.
    PortStatus setQueue(PortOption option, std::int32_t value) {
        if (value < 0) {
            return PortStatus::InvalidArgument;
        }
        COMMPROP properties{};
        if (!GetCommProperties(handle_, &properties)) {
            return PortStatus::SystemError;
        }
        const auto size = static_cast<DWORD>(value);
        const DWORD receive =
            option == PortOption::ReceiveQueue ? size : properties.dwCurrentRxQueue;
        const DWORD transmit =
            option == PortOption::TransmitQueue ? size : properties.dwCurrentTxQueue;
        return SetupComm(handle_, receive, transmit) ? PortStatus::Ok : PortStatus::InvalidArgument;
    }

    // Collects the waiting read once it has ended (ending it first when asked to); its byte,
    // if it got one, joins the held bytes.
    void settleWait(bool end) {
        if (!waitPending_) {
            return;
        }
        if (end) {
            CancelIoEx(handle_, &waitRead_);
        }
        DWORD got = 0;
        if (!GetOverlappedResult(handle_, &waitRead_, &got, end ? TRUE : FALSE) &&
            GetLastError() == ERROR_IO_INCOMPLETE) {
            return;
        }
        waitPending_ = false;
        if (got == 1) {
            held_.push_back(waitByte_);
        }
    }

    HANDLE handle_;
    HANDLE ioEvent_;  // completion of this device's reads and writes
    HANDLE rxEvent_;  // what waitHandle hands out: set when the waiting read ends
    OVERLAPPED waitRead_{};
    char waitByte_ = 0;
    bool waitPending_ = false;
    bool timeoutsSet_ = false;
    std::string held_;  // received bytes the waiting read took, not yet handed out
};

// A device left with abort-on-error set by an earlier program cancels every read and write after
// a line error (ERROR_OPERATION_ABORTED) until the error is cleared, and that error also means a
// removed device. Turned off, a cancelled call means only the latter; line errors still show in
// ClearCommError. A device that cannot be asked keeps its setting: the calls say the rest.
void keepCallsAfterLineErrors(HANDLE handle) {
    DCB dcb{};
    dcb.DCBlength = sizeof(dcb);
    if (GetCommState(handle, &dcb) && dcb.fAbortOnError) {
        dcb.fAbortOnError = FALSE;
        SetCommState(handle, &dcb);
    }
}

class Win32SerialOpener final : public SerialDeviceOpener {
    static OpenedDevice failed(PortState why) {
        return {nullptr, PortStatus::DeviceUnavailable, {why, {}}};
    }

  public:
    OpenedDevice open(std::string_view name) override {
        std::wstring path;
        if (!wideName(name, path)) {
            return failed(PortState::Absent);
        }
        const QuietErrorMode quiet;
        SECURITY_ATTRIBUTES security{};
        security.nLength = sizeof(security);
        security.lpSecurityDescriptor = nullptr;
        security.bInheritHandle = TRUE;
        HANDLE handle =
            CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, &security, OPEN_EXISTING,
                        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            // A port that exists but is held by another program answers "access denied" (or a
            // sharing violation); anything else means there is no such port.
            const DWORD error = GetLastError();
            return failed(error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION
                              ? PortState::InUse
                              : PortState::Absent);
        }
        // The service takes any name, and a path to a file opens as well as a port does; image
        // lines written into a file would help nobody.
        if (GetFileType(handle) == FILE_TYPE_DISK) {
            CloseHandle(handle);
            return failed(PortState::NotTerminal);
        }
        keepCallsAfterLineErrors(handle);
        HANDLE ioEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        HANDLE rxEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (ioEvent == nullptr || rxEvent == nullptr) {
            for (HANDLE h : {handle, ioEvent, rxEvent}) {
                if (h != nullptr) {
                    CloseHandle(h);
                }
            }
            return {nullptr, PortStatus::OutOfMemory, {PortState::NoUnit, {}}};
        }
        return {std::make_unique<Win32SerialDevice>(handle, ioEvent, rxEvent), PortStatus::Ok};
    }

    void sleepMilliseconds(std::int32_t milliseconds) override {
        if (milliseconds > 0) {
            Sleep(static_cast<DWORD>(milliseconds));
        }
    }
};

}  // namespace

std::unique_ptr<SerialDeviceOpener> makeWin32SerialOpener() {
    return std::make_unique<Win32SerialOpener>();
}

}  // namespace vkt5
