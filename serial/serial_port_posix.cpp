#include "serial/serial_port_posix.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <utility>

#include "serial/posix_lock_file.h"

namespace vkt5 {

namespace {

// A pty (and some USB adapters) answers modem and serial-driver ioctls this way: the feature is
// missing, the device is fine.
bool notSupported(int error) {
    return error == ENOTTY || error == EINVAL;
}

std::optional<speed_t> speedFor(std::int32_t bitsPerSecond) {
    struct Speed {
        std::int32_t bits;
        speed_t code;
    };
    static constexpr Speed speeds[] = {
        {50, B50},           {75, B75},           {110, B110},         {134, B134},
        {150, B150},         {200, B200},         {300, B300},         {600, B600},
        {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
        {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
        {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
        {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
        {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
        {3500000, B3500000}, {4000000, B4000000},
    };
    for (const Speed& s : speeds) {
        if (s.bits == bitsPerSecond) {
            return s.code;
        }
    }
    return std::nullopt;
}

// The error counters that make a line error: characters lost or garbled on the way in. Parity
// errors and breaks do not count.
int lineErrorCount(const serial_icounter_struct& c) {
    return c.frame + c.overrun + c.buf_overrun;
}

// What the device held when we opened it, to be put back when we let it go.
struct FoundSettings {
    termios line{};
    std::optional<int> modemLines;   // none where the device has no modem lines
    std::optional<int> serialFlags;  // the driver's flags, when we changed them
};

class PosixSerialDevice final : public SerialDevice {
  public:
    PosixSerialDevice(int fd, FoundSettings found, std::shared_ptr<ModemLineControl> modemLines,
                      PortLockFile lock)
        : fd_(fd), found_(found), modemLines_(std::move(modemLines)), lock_(std::move(lock)) {
        serial_icounter_struct counters{};
        countersAvailable_ = ::ioctl(fd_, TIOCGICOUNT, &counters) == 0;
        if (countersAvailable_) {
            lineErrorsSeen_ = lineErrorCount(counters);
        }
    }

    // The lock file goes last, with the member: the device is released by then.
    ~PosixSerialDevice() override {
        if (!keepSettings_) {
            putBackFoundSettings();
        }
        ::ioctl(fd_, TIOCNXCL);
        ::flock(fd_, LOCK_UN);
        ::close(fd_);
    }

    PosixSerialDevice(const PosixSerialDevice&) = delete;
    PosixSerialDevice& operator=(const PosixSerialDevice&) = delete;

    PortStatus setOption(PortOption option, std::int32_t value) override {
        switch (option) {
            case PortOption::ReceiveQueue:
            case PortOption::TransmitQueue:
                return value < 0 ? PortStatus::InvalidArgument : PortStatus::Ok;
            case PortOption::DtrHandshake:
            case PortOption::DtrLine:
                return setDtr(value != 0);
            default:
                return changeTermios(option, value);
        }
    }

    QueuedBytes queued() override {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, 0) < 0 || (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
            return {0, PortStatus::SystemError};
        }
        int count = 0;
        if (::ioctl(fd_, FIONREAD, &count) != 0) {
            return {0, PortStatus::SystemError};
        }
        if (countersAvailable_) {
            serial_icounter_struct counters{};
            if (::ioctl(fd_, TIOCGICOUNT, &counters) == 0) {
                const int errors = lineErrorCount(counters);
                if (errors != lineErrorsSeen_) {
                    lineErrorsSeen_ = errors;
                    return {0, PortStatus::LineError};
                }
            }
        }
        return {count, PortStatus::Ok};
    }

    ReceivedBytes read(std::int32_t maxBytes) override {
        if (maxBytes < 1) {
            return {{}, PortStatus::Ok};
        }
        std::string text(static_cast<std::size_t>(maxBytes), '\0');
        ssize_t got;
        do {
            got = ::read(fd_, text.data(), text.size());
        } while (got < 0 && errno == EINTR);
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return {{}, PortStatus::Ok};
        }
        // With O_NONBLOCK an empty tty answers EAGAIN; 0 is the end of the line: a hang-up.
        if (got <= 0) {
            return {{}, PortStatus::DeviceUnavailable};
        }
        text.resize(static_cast<std::size_t>(got));
        return {std::move(text), PortStatus::Ok};
    }

    PortStatus write(std::string_view bytes) override {
        while (!bytes.empty()) {
            const ssize_t put = ::write(fd_, bytes.data(), bytes.size());
            if (put > 0) {
                bytes.remove_prefix(static_cast<std::size_t>(put));
                continue;
            }
            if (put < 0 && errno == EINTR) {
                continue;
            }
            if (put == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
                return PortStatus::IncompleteTransfer;
            }
            // The output buffer is full: it drains at line speed, so wait for room.
            pollfd p{fd_, POLLOUT, 0};
            if (::poll(&p, 1, -1) < 0 && errno != EINTR) {
                return PortStatus::IncompleteTransfer;
            }
            if ((p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
                return PortStatus::IncompleteTransfer;
            }
        }
        return PortStatus::Ok;
    }

    std::intptr_t waitHandle() override { return fd_; }

    void keepSettings() override { keepSettings_ = true; }

  private:
    PortStatus setDtr(bool on) {
        const int error =
            on ? modemLines_->raise(fd_, TIOCM_DTR) : modemLines_->lower(fd_, TIOCM_DTR);
        return error == 0 || notSupported(error) ? PortStatus::Ok : PortStatus::SystemError;
    }

    // Line settings first: a speed of 0 there would drop DTR after the modem lines were set.
    // Failures are ignored; a device that went away has nothing to put back.
    void putBackFoundSettings() {
        ::tcsetattr(fd_, TCSANOW, &found_.line);
        if (found_.modemLines) {
            modemLines_->set(fd_, *found_.modemLines);
        }
        if (found_.serialFlags) {
            serial_struct serial{};
            if (::ioctl(fd_, TIOCGSERIAL, &serial) == 0) {
                serial.flags = *found_.serialFlags;
                ::ioctl(fd_, TIOCSSERIAL, &serial);
            }
        }
    }

    // One read-modify-write of the whole configuration. tcsetattr succeeds when any part of a
    // change was taken, so what the option covers is read back to see that the device took it.
    PortStatus changeTermios(PortOption option, std::int32_t value) {
        termios t{};
        if (::tcgetattr(fd_, &t) != 0) {
            return PortStatus::SystemError;
        }
        tcflag_t cflagMask = 0;
        tcflag_t iflagMask = 0;
        std::optional<speed_t> speed;
        switch (option) {
            case PortOption::BaudRate:
                speed = speedFor(value);
                if (!speed || ::cfsetspeed(&t, *speed) != 0) {
                    return PortStatus::InvalidArgument;
                }
                break;
            case PortOption::DataBits: {
                tcflag_t size;
                switch (value) {
                    case 5:
                        size = CS5;
                        break;
                    case 6:
                        size = CS6;
                        break;
                    case 7:
                        size = CS7;
                        break;
                    case 8:
                        size = CS8;
                        break;
                    default:
                        return PortStatus::InvalidArgument;
                }
                t.c_cflag = (t.c_cflag & ~CSIZE) | size;
                cflagMask = CSIZE;
                if (value == 8) {
                    t.c_cflag &= ~(CSTOPB | PARENB | PARODD | CMSPAR);
                    t.c_iflag &= ~INPCK;
                    cflagMask |= CSTOPB | PARENB | PARODD | CMSPAR;
                    iflagMask = INPCK;
                }
                break;
            }
            case PortOption::ParityCheck:
                t.c_iflag = value != 0 ? (t.c_iflag | INPCK) : (t.c_iflag & ~INPCK);
                iflagMask = INPCK;
                break;
            case PortOption::StopBits:
                if (value < 0 || value > 2) {
                    return PortStatus::InvalidArgument;
                }
                t.c_cflag = value == 0 ? (t.c_cflag & ~CSTOPB) : (t.c_cflag | CSTOPB);
                cflagMask = CSTOPB;
                break;
            default:
                return PortStatus::InvalidArgument;
        }
        if (::tcsetattr(fd_, TCSANOW, &t) != 0) {
            return PortStatus::InvalidArgument;
        }
        termios now{};
        if (::tcgetattr(fd_, &now) != 0) {
            return PortStatus::SystemError;
        }
        const bool taken =
            (now.c_cflag & cflagMask) == (t.c_cflag & cflagMask) &&
            (now.c_iflag & iflagMask) == (t.c_iflag & iflagMask) &&
            (!speed || (::cfgetospeed(&now) == *speed && ::cfgetispeed(&now) == *speed));
        return taken ? PortStatus::Ok : PortStatus::InvalidArgument;
    }

    int fd_;
    FoundSettings found_;
    std::shared_ptr<ModemLineControl> modemLines_;
    PortLockFile lock_;
    bool keepSettings_ = false;
    bool countersAvailable_ = false;
    int lineErrorsSeen_ = 0;
};

// Why open(2) refused a device that exists.
PortState stateForOpenError(int error) {
    switch (error) {
        case EACCES:
        case EPERM:
            return PortState::NoPermission;
        case EBUSY:  // someone holds it with TIOCEXCL
            return PortState::InUse;
        default:  // ENOENT, ENXIO, ENODEV: the device went or was never there
            return PortState::Absent;
    }
}

OpenedDevice failed(PortState why, std::string device) {
    return {nullptr, PortStatus::DeviceUnavailable, {why, std::move(device)}};
}

class PosixSerialOpener final : public SerialDeviceOpener {
  public:
    explicit PosixSerialOpener(PosixOpenerSettings settings) : settings_(std::move(settings)) {
        if (!settings_.modemLines) {
            settings_.modemLines = deviceModemLines();
        }
    }

    OpenedDevice open(std::string_view name) override {
        const std::optional<std::string> path = settings_.portMap.devicePath(name);
        if (!path) {
            return failed(PortState::Absent, {});
        }
        // Only a character device can be a serial line; anything else is refused before an open
        // that could block (a FIFO) or mean something (a file on a slow mount).
        struct stat info {};
        if (::stat(path->c_str(), &info) != 0) {
            return failed(errno == EACCES ? PortState::NoPermission : PortState::Absent, *path);
        }
        if (!S_ISCHR(info.st_mode)) {
            return failed(PortState::NotTerminal, *path);
        }
        // A device another program has locked is not even opened: opening a tty can already
        // raise its modem lines.
        const std::string lockedPath = lockedPathOf(*path);
        if (lockedByLiveProcess(settings_.lockDirectories, lockedPath)) {
            return failed(PortState::InUse, *path);
        }
        const int fd = ::open(path->c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            return failed(stateForOpenError(errno), *path);
        }
        const auto refuse = [&](PortState why) {
            ::close(fd);
            return failed(why, *path);
        };
        if (!::isatty(fd)) {
            return refuse(PortState::NotTerminal);
        }
        // The lock comes before TIOCEXCL: if someone else holds the device, we leave its
        // exclusive flag alone.
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            return refuse(PortState::InUse);
        }
        if (::ioctl(fd, TIOCEXCL) != 0) {
            return refuse(PortState::InUse);
        }
        FoundSettings found;
        if (::tcgetattr(fd, &found.line) != 0) {
            ::ioctl(fd, TIOCNXCL);
            return refuse(PortState::Absent);
        }
        LockAttempt lock = takePortLock(settings_.lockDirectories, lockedPath);
        if (lock.inUse) {
            ::ioctl(fd, TIOCNXCL);
            return refuse(PortState::InUse);
        }
        if (int bits = 0; settings_.modemLines->get(fd, bits) == 0) {
            found.modemLines = bits;
        }
        // Raw at once: the cooked default eats XON/XOFF and rewrites CR. CREAD and CLOCAL make the
        // line receive and ignore carrier detect, as a serial port does on Windows; without
        // CLOCAL a cable without DCD would hang the line up.
        termios t = found.line;
        ::cfmakeraw(&t);
        t.c_cflag |= CREAD | CLOCAL;
        if (::tcsetattr(fd, TCSANOW, &t) != 0) {
            ::ioctl(fd, TIOCNXCL);
            return refuse(PortState::Absent);
        }
        // Hand received bytes over at once rather than in batches; a pty has no such setting.
        serial_struct serial{};
        if (::ioctl(fd, TIOCGSERIAL, &serial) == 0 && (serial.flags & ASYNC_LOW_LATENCY) == 0) {
            found.serialFlags = serial.flags;
            serial.flags |= ASYNC_LOW_LATENCY;
            ::ioctl(fd, TIOCSSERIAL, &serial);
        }
        return {std::make_unique<PosixSerialDevice>(fd, found, settings_.modemLines,
                                                    std::move(lock.lock)),
                PortStatus::Ok,
                {PortState::NoUnit, *path}};
    }

    void sleepMilliseconds(std::int32_t milliseconds) override {
        if (milliseconds <= 0) {
            return;
        }
        timespec left{milliseconds / 1000, static_cast<long>(milliseconds % 1000) * 1000000L};
        while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
        }
    }

  private:
    PosixOpenerSettings settings_;
};

}  // namespace

PosixOpenerSettings posixOpenerSettingsFromEnvironment() {
    const char* ports = std::getenv(PORTS_ENVIRONMENT_VARIABLE);
    const char* lockDirs = std::getenv(LOCK_DIRS_ENVIRONMENT_VARIABLE);
    PosixOpenerSettings settings;
    settings.portMap = ports != nullptr ? PosixPortMap(std::string_view(ports)) : PosixPortMap();
    settings.lockDirectories = lockDirectories(
        lockDirs != nullptr ? std::optional<std::string_view>(lockDirs) : std::nullopt);
    return settings;
}

std::unique_ptr<SerialDeviceOpener> makePosixSerialOpener() {
    return makePosixSerialOpener(posixOpenerSettingsFromEnvironment());
}

std::unique_ptr<SerialDeviceOpener> makePosixSerialOpener(PosixOpenerSettings settings) {
    return std::make_unique<PosixSerialOpener>(std::move(settings));
}

}  // namespace vkt5
