// The termios back-end's calls on the modem lines (DTR, RTS), behind a small interface. The real
// one is four ioctls; a test gives the opener its own, because a pseudo-terminal has no modem
// lines and refuses every one of these calls, so only a stand-in can show which line was left
// on or off.
//
// Bits are the TIOCM_* values of <sys/ioctl.h>. Every call returns 0 or the errno of the failure;
// ENOTTY and EINVAL mean the device has no such lines, which is not a fault of the device.
#pragma once

#include <memory>

namespace vkt5 {

class ModemLineControl {
  public:
    virtual ~ModemLineControl() = default;

    virtual int get(int fd, int& bits) = 0;   // TIOCMGET
    virtual int set(int fd, int bits) = 0;    // TIOCMSET
    virtual int raise(int fd, int bits) = 0;  // TIOCMBIS
    virtual int lower(int fd, int bits) = 0;  // TIOCMBIC
};

// The device's own lines, through ioctl.
std::shared_ptr<ModemLineControl> deviceModemLines();

}  // namespace vkt5
