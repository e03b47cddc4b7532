// The Windows serial back-end: a communications device opened by name with CreateFileW and driven
// through its device control block, its queue sizes and ClearCommError.
//
// What always holds for an open device: the handle is a character device, never a disk file; it
// was opened exclusively (share mode 0), read and write, overlapped, and a read asks only for
// bytes already counted, so it returns at once. Reads and writes wait for their own completion:
// towards the rest of the program the device is as synchronous as ever.
//
// Fast mode (waitHandle): overlapped opening lets one read of a single byte stay pending on an
// event that the host waits for together with its window messages. It runs under time-outs that
// make ReadFile wait for the first byte only (set on the first waitHandle; until then the device
// has none). The byte it takes is held by the device and counted and handed out first, so the
// bytes reach the caller once each and in order.
// Every device call runs with the thread's error mode set to keep system message boxes away
// (a vanished USB adapter must not put a box in front of the user), and the previous mode is
// restored afterwards. Closing releases the handle and leaves the line settings as they are.
// Abort-on-error is off, so a line error never cancels a call. Once the device has gone (unplugged,
// or under Wine the pty's other side closed), queued() reports DeviceUnavailable (SystemError for
// any other refusal: neither is Ok nor LineError), read() DeviceUnavailable and write()
// IncompleteTransfer, so the program sees a lost unit, never one that merely went quiet.
#pragma once

#include <memory>

#include "serial/serial_device.h"

namespace vkt5 {

std::unique_ptr<SerialDeviceOpener> makeWin32SerialOpener();

}  // namespace vkt5
