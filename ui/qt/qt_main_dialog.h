// The main dialog on Qt 6 Widgets. It realises the toolkit-independent control model with
// widgets at the model's client-pixel rectangles and translates what happens in the window into
// the handler contract of the Windows dialog manager: initialisation (272) and size (5) before
// the window is shown, a timer message (275) per tick, a command (273) per button click with the
// control id in the low 16 bits, and the cancel command (id 2) for Escape.
//
// What always holds:
// - The handler is never re-entered: an event that arrives while it runs is dropped (a tick that
//   falls due then is not made up, as with a window timer).
// - Fast mode: a watched port is a read notifier on its descriptor, delivering MSG_PORT_DATA
//   through the same path as the ticks. At most one descriptor is watched; a notifier that is
//   given up is disabled at once (a closed or unread descriptor must never wake the loop) and
//   freed outside its own signal.
// - At most one button is the default; it is the last one added, and removing it leaves none.
//   Removed controls are deleted, never hidden, so Enter can only ever reach a live button.
// - Once the dialog has ended, the window and its controls are gone and every control operation
//   does nothing.
#pragma once

#include <QPoint>
#include <QPointer>
#include <QSize>
#include <QString>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "ui/main_dialog.h"

class QDialog;
class QFont;
class QSocketNotifier;
class QTimer;
class QWidget;

namespace vkt5 {

class QtDialogWindow;

// Where the host finds its pictures; the defaults are the resources the program carries.
struct QtDialogResources {
    QString icon = QStringLiteral(":/vkt5_icon.ico");
    QString logo = QStringLiteral(":/vkt5_logo.bmp");
};

class QtMainDialog final : public MainDialog {
  public:
    explicit QtMainDialog(QtDialogResources resources = {});
    ~QtMainDialog() override;
    QtMainDialog(const QtMainDialog&) = delete;
    QtMainDialog& operator=(const QtMainDialog&) = delete;

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

    // For tests and diagnostics: the window (null before creation and after the end), a control
    // by id (null when absent) and the id of the default button (0 when there is none).
    QDialog* window() const;
    QWidget* control(std::int32_t id) const;
    std::int32_t defaultButtonId() const { return defaultButton_; }

    // Called by the window. Enter clicks the default button, if there is one; Escape delivers
    // the cancel command.
    void onEnterKey();
    void onEscapeKey();
    // The window's close command, from any phase.
    void onCloseRequest();
    // The window has been painted for the first time, so its frame is known.
    void onFirstShown();

  private:
    void deliver(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam);
    QFont realise(const FontSpec& wanted) const;
    // Top-left corner of a window of the given outer size under the centring rule.
    std::optional<QPoint> centredFor(QSize outerSize) const;
    void stopAllTimers();
    void stopWatching();

    QtDialogResources resources_;
    std::unique_ptr<QtDialogWindow> window_;
    std::map<std::int32_t, QPointer<QWidget>> controls_;
    std::map<std::int32_t, std::unique_ptr<QTimer>> timers_;
    std::unique_ptr<QSocketNotifier> portNotifier_;
    // Notifiers given up while the handler ran, possibly from inside their own signal; freed
    // before the next delivery.
    std::vector<std::unique_ptr<QSocketNotifier>> retiredNotifiers_;
    QPoint placedAt_;
    std::int32_t defaultButton_ = 0;
    DialogEventHandler* handler_ = nullptr;
    bool inHandler_ = false;
    bool ended_ = false;
    bool running_ = false;
};

// Text of the program's 8-bit strings, read as Windows-1252 (the code page the texts are
// written in) and cut at the first NUL, as a C-string window text would be.
QString textFromBytes(std::string_view bytes);

}  // namespace vkt5
