#include "serial/posix_modem_lines.h"

#include <sys/ioctl.h>

#include <cerrno>

namespace vkt5 {

namespace {

int result(int returned) {
    return returned == 0 ? 0 : errno;
}

class DeviceModemLines final : public ModemLineControl {
  public:
    int get(int fd, int& bits) override { return result(::ioctl(fd, TIOCMGET, &bits)); }
    int set(int fd, int bits) override { return result(::ioctl(fd, TIOCMSET, &bits)); }
    int raise(int fd, int bits) override { return result(::ioctl(fd, TIOCMBIS, &bits)); }
    int lower(int fd, int bits) override { return result(::ioctl(fd, TIOCMBIC, &bits)); }
};

}  // namespace

std::shared_ptr<ModemLineControl> deviceModemLines() {
    return std::make_shared<DeviceModemLines>();
}

}  // namespace vkt5
