// The Linux serial back-end: a termios device opened by path, non-blocking, in raw mode.
//
// What always holds for an open device: it is a tty (isatty); we hold it exclusively, by
// flock(LOCK_EX) (which also keeps root out) and TIOCEXCL (which keeps out programs that do not
// take the lock); it is in raw mode from the open on, with whatever speed it had. Closing releases
// both and leaves the line settings as they are.
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

#include "serial/posix_port_map.h"
#include "serial/serial_device.h"

namespace vkt5 {

// Reads VKT5_PORTS once, here; later changes of the environment do not count.
std::unique_ptr<SerialDeviceOpener> makePosixSerialOpener();
std::unique_ptr<SerialDeviceOpener> makePosixSerialOpener(PosixPortMap portMap);

}  // namespace vkt5
