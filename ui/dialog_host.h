// The control operations on the one main dialog, and the tick. The phase screens and the
// sequencer talk to the window only through this interface; the Qt and Win32 hosts implement it,
// and the tests use a recording double.
//
// Operations never fail towards the caller: a host that cannot do something leaves the window as
// it was. Controls are addressed by id; ids are unique among the dialog's controls.
#pragma once

#include <cstdint>
#include <string_view>

#include "ui/control_model.h"

namespace vkt5 {

class DialogHost {
  public:
    virtual ~DialogHost() = default;

    // Creates the control with the dialog font and shows it. A push button also becomes the
    // dialog's default button; an image shows the bitmap named by its text.
    virtual void addControl(ControlKind kind, std::int32_t id, std::string_view text, Rect rect,
                            std::uint32_t style) = 0;
    virtual void removeControl(std::int32_t id) = 0;
    virtual void setControlText(std::int32_t id, std::string_view text) = 0;
    virtual void setControlFont(std::int32_t id, const FontSpec& font) = 0;
    virtual void setControlColor(std::int32_t id, ColorRef text, std::int32_t background) = 0;
    virtual void setProgressRange(std::int32_t id, std::int32_t low, std::int32_t high) = 0;
    virtual void setProgressPosition(std::int32_t id, std::int32_t position) = 0;

    // The repeating tick: timer messages with the given id, every interval, on the UI thread.
    // Returns the tick's identifier, non-zero on success.
    virtual std::int32_t startTimer(std::int32_t timerId, std::int32_t intervalMs) = 0;
    virtual void stopTimer(std::int32_t timerId) = 0;

    // Ends the dialog with result 0: the window is destroyed and the modal run returns.
    virtual void endMainDialog() = 0;

    // Fast mode: deliver MSG_PORT_DATA to the handler whenever this wait handle (from
    // SerialPortService::waitHandle) is ready, besides the ticks; NO_WAIT_HANDLE stops it. The
    // handler calls this again after each piece of work while it wants to hear of the port. A
    // host that cannot wait on a port ignores it: the ticks alone then drive everything.
    virtual void watchPort(std::intptr_t /*waitHandle*/) {}
};

}  // namespace vkt5
