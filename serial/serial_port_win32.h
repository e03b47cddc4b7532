// The Windows serial back-end: a communications device opened by name with CreateFileW and driven
// through its device control block, its queue sizes and ClearCommError.
//
// What always holds for an open device: the handle is a character device, never a disk file; it
// was opened exclusively (share mode 0), read and write, synchronous, with no time-outs applied,
// so a read asks only for bytes that ClearCommError has already counted and returns at once.
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
