// The dialog host of the command line (and of the tick benchmark): it draws nothing. The
// sequencer's screens are accepted and forgotten; the program reads what it reports from the
// UpgradeState instead. What it keeps is what a host must act on: whether the tick runs, whether
// the dialog has ended, and which wait handle the sequencer wants watched in fast mode
// (NO_WAIT_HANDLE when none).
#pragma once

#include <cstdint>

#include "serial/serial_port_service.h"
#include "ui/dialog_host.h"

namespace vkt5::cli {

class HeadlessHost final : public DialogHost {
  public:
    void addControl(ControlKind, std::int32_t, std::string_view, Rect, std::uint32_t) override {}
    void removeControl(std::int32_t) override {}
    void setControlText(std::int32_t, std::string_view) override {}
    void setControlFont(std::int32_t, const FontSpec&) override {}
    void setControlColor(std::int32_t, ColorRef, std::int32_t) override {}
    void setProgressRange(std::int32_t, std::int32_t, std::int32_t) override {}
    void setProgressPosition(std::int32_t, std::int32_t) override {}
    std::int32_t startTimer(std::int32_t timerId, std::int32_t) override {
        ticking_ = true;
        return timerId;
    }
    void stopTimer(std::int32_t) override { ticking_ = false; }
    void endMainDialog() override {
        ended_ = true;
        ticking_ = false;
        watched_ = SerialPortService::NO_WAIT_HANDLE;
    }
    void watchPort(std::intptr_t waitHandle) override { watched_ = waitHandle; }

    bool ticking() const { return ticking_; }
    bool ended() const { return ended_; }
    std::intptr_t watched() const { return watched_; }

  private:
    bool ticking_ = false;
    bool ended_ = false;
    std::intptr_t watched_ = SerialPortService::NO_WAIT_HANDLE;
};

}  // namespace vkt5::cli
