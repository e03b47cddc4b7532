// A dialog host with no window: every control operation is accepted and forgotten. The tick
// benchmark runs the real sequencer against it, so that what it times is the core and the serial
// back-end alone, not a toolkit.
#pragma once

#include "ui/dialog_host.h"

namespace vkt5::bench {

class NullDialog final : public DialogHost {
  public:
    void addControl(ControlKind, std::int32_t, std::string_view, Rect, std::uint32_t) override {}
    void removeControl(std::int32_t) override {}
    void setControlText(std::int32_t, std::string_view) override {}
    void setControlFont(std::int32_t, const FontSpec&) override {}
    void setControlColor(std::int32_t, ColorRef, std::int32_t) override {}
    void setProgressRange(std::int32_t, std::int32_t, std::int32_t) override {}
    void setProgressPosition(std::int32_t, std::int32_t) override {}
    std::int32_t startTimer(std::int32_t timerId, std::int32_t) override { return timerId; }
    void stopTimer(std::int32_t) override {}
    void endMainDialog() override { ended = true; }

    bool ended = false;
};

}  // namespace vkt5::bench
