// A MainDialog for tests. It keeps the live set of controls as a host would (kind, text,
// rectangle, style, font, colour, range, position, the default button) and a log of every
// operation in order, one line each, so tests can compare both what the window shows and the
// exact sequence that produced it.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "ui/main_dialog.h"

namespace vkt5::test {

struct RecordedControl {
    ControlKind kind = ControlKind::Label;
    std::string text;
    Rect rect;
    std::uint32_t style = 0;
    FontSpec font;
    ColorRef textColor = 0;
    bool hasColor = false;
    std::int32_t low = 0;
    std::int32_t high = 100;
    std::int32_t position = 0;
};

class RecordingDialog final : public MainDialog {
  public:
    void addControl(ControlKind kind, std::int32_t id, std::string_view text, Rect rect,
                    std::uint32_t style) override;
    void removeControl(std::int32_t id) override;
    void setControlText(std::int32_t id, std::string_view text) override;
    void setControlFont(std::int32_t id, const FontSpec& font) override;
    void setControlColor(std::int32_t id, ColorRef text, std::int32_t background) override;
    void setProgressRange(std::int32_t id, std::int32_t low, std::int32_t high) override;
    void setProgressPosition(std::int32_t id, std::int32_t position) override;
    std::int32_t startTimer(std::int32_t timerId, std::int32_t intervalMs) override;
    void stopTimer(std::int32_t timerId) override;
    void endMainDialog() override;
    // Kept apart from the log: only fast mode watches the port, and the log is the same in both.
    void watchPort(std::intptr_t waitHandle) override { watches.push_back(waitHandle); }

    WindowHandle createDialog(std::string_view caption, std::int32_t clientWidth,
                              std::int32_t clientHeight) override;
    void setDialogIcons(std::int32_t iconGroup) override;
    // Delivers initialisation and size, as a host does before showing the window, and returns;
    // the test then drives ticks and commands itself.
    void runMainDialog(DialogEventHandler& handler) override;
    void showImageError(std::string_view message) override;

    bool has(std::int32_t id) const { return controls.count(id) != 0; }
    const RecordedControl& at(std::int32_t id) const { return controls.at(id); }
    std::string text(std::int32_t id) const {
        return has(id) ? at(id).text : std::string("<none>");
    }

    // Clears the log (not the controls), to look at what one step does.
    void clearLog() { log.clear(); }

    std::map<std::int32_t, RecordedControl> controls;
    std::vector<std::string> log;
    std::vector<std::intptr_t> watches;  // every watchPort call, in order
    std::intptr_t watching() const {
        return watches.empty() ? SerialPortService::NO_WAIT_HANDLE : watches.back();
    }
    std::int32_t defaultButton = 0;  // 0: none
    std::int32_t timerResult = 1;    // what startTimer returns
    bool timerRunning = false;
    bool ended = false;
    bool created = false;
    std::string caption;
    std::string imageError;
    DialogEventHandler* handler = nullptr;
    static inline WindowHandle const HANDLE = reinterpret_cast<WindowHandle>(0x5150);
};

}  // namespace vkt5::test
