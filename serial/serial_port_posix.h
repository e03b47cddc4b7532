// The Linux serial back-end: a termios device opened by path, non-blocking, in raw mode.
//
// What always holds for an open device: it is a tty (isatty); we hold it exclusively, by
// flock(LOCK_EX) (which also keeps root out), TIOCEXCL (which keeps out programs that do not
// take the lock) and a lock file LCK..name where a lock folder lets us write one (which is what
// terminal programs look for); it is in raw mode from the open on, with whatever speed it had.
// A device with a live lock file of another process is not opened at all.
//
// Closing puts back the line settings, the modem lines and the driver's low-latency flag found
// at the open, unless the device was told to keep its settings (the unit's port: the scan says
// so when it finds the unit), then releases the device and removes our lock file.
//
// Where Linux has no counterpart of a port setting:
// - ReceiveQueue and TransmitQueue: a tty's buffers are sized by the kernel and cannot be asked
//   for, so a recommended size is accepted and reported Ok (it was never more than advice).
// - DtrHandshake on: there is no DTR receive handshake on Linux; DTR is held on instead, which is
//   what the unit needs (the configuration always ends with DTR held on anyway).
// - StopBits 1 (one and a half): termios knows one or two; one and a half is treated as two.
// - A pseudo-terminal has no modem lines and no error counters: DTR changes on it report Ok, and
//   it never reports a line error.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "serial/posix_modem_lines.h"
#include "serial/posix_port_map.h"
#include "serial/serial_device.h"

namespace vkt5 {

struct PosixOpenerSettings {
    PosixPortMap portMap;
    std::vector<std::string> lockDirectories;  // where lock files are honoured and taken; none: off
    std::shared_ptr<ModemLineControl> modemLines;  // null: the device's own
};

// The port map of VKT5_PORTS and the lock folders of VKT5_LOCK_DIRS (or their defaults), read
// once, here; later changes of the environment do not count.
PosixOpenerSettings posixOpenerSettingsFromEnvironment();

std::unique_ptr<SerialDeviceOpener> makePosixSerialOpener();  // from the environment
std::unique_ptr<SerialDeviceOpener> makePosixSerialOpener(PosixOpenerSettings settings);

}  // namespace vkt5
