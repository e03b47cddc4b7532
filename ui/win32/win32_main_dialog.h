// The main dialog on the Win32 dialog manager. The window comes from an in-memory extended dialog
// template (no controls, "Arial" 10 pt bold as its font), created modeless and hidden so that the
// program runs its own message loop; it is then sized to a 500 x 240 client area and centred in
// the work area. Controls are child windows of the classes "BUTTON", "STATIC" and
// "msctls_progress32" at the model's client-pixel rectangles.
//
// What always holds:
// - The handler sees initialisation exactly once, from runMainDialog, before the window is
//   shown, then one size message; the initialisation that the dialog manager sends while it
//   creates the window is not passed on. After that every message of the dialog reaches the
//   handler, never re-entered: a message that arrives while the handler runs is not passed on.
// - Closing the window (close box, system menu, Alt+F4) ends the dialog in every phase; Escape
//   only delivers the cancel command.
// - Enter clicks the default button only while that button exists: removing the default button
//   leaves the dialog without one, and Enter then does nothing.
// - Fast mode: while a port is watched, the loop waits for the port's event and the thread's
//   messages together (MsgWaitForMultipleObjectsEx) and delivers MSG_PORT_DATA when the event is
//   set; messages already queued are always taken first, so a port that keeps its event set
//   cannot starve the window. Unwatched, the loop blocks in GetMessage as always.
// - Fonts, bitmaps, brushes and icons made here live until this object is destroyed, after the
//   window that uses them.
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <tuple>

#include "ui/main_dialog.h"

namespace vkt5 {

class Win32MainDialog final : public MainDialog {
  public:
    Win32MainDialog();
    ~Win32MainDialog() override;
    Win32MainDialog(const Win32MainDialog&) = delete;
    Win32MainDialog& operator=(const Win32MainDialog&) = delete;

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
    void watchPort(std::intptr_t waitHandle) override;

    WindowHandle createDialog(std::string_view caption, std::int32_t clientWidth,
                              std::int32_t clientHeight) override;
    void setDialogIcons(std::int32_t iconGroup) override;
    void runMainDialog(DialogEventHandler& handler) override;
    void showImageError(std::string_view message) override;

    HWND window() const { return dialog_; }

  private:
    struct ControlColor {
        COLORREF text;
        std::int32_t background;
    };

    static INT_PTR CALLBACK dialogProcedure(HWND window, UINT message, WPARAM wParam,
                                            LPARAM lParam);
    INT_PTR handleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void deliver(UINT message, WPARAM wParam, LPARAM lParam);
    bool enterWouldReachNothing(const MSG& message) const;
    // Passes one message on as the dialog manager wants it.
    void dispatch(MSG& message);
    // Takes every queued message; false when the loop has to end.
    bool takeQueuedMessages();
    HFONT realise(const FontSpec& font);
    HBRUSH backgroundBrush(std::int32_t background);
    HWND control(std::int32_t id) const;
    void forgetWindow();
    void releaseResources();

    HINSTANCE instance_;
    HWND dialog_ = nullptr;
    HANDLE watchedPort_ = nullptr;  // null: not watching
    DialogEventHandler* handler_ = nullptr;
    bool inHandler_ = false;
    bool ending_ = false;
    std::int32_t defaultButton_ = 0;
    HICON bigIcon_ = nullptr;
    HICON smallIcon_ = nullptr;
    std::map<std::int32_t, HBITMAP> bitmaps_;
    std::map<std::int32_t, ControlColor> colors_;
    std::map<std::tuple<std::string, int, int, bool, int, int, int>, HFONT> fonts_;
    std::map<std::int32_t, HBRUSH> brushes_;
};

}  // namespace vkt5
