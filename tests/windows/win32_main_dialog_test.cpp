// The Win32 dialog host in-process, on the Windows tests' display: the fixed window that
// buildMainDialog makes, the order of the events a modal run delivers, the keyboard, the close
// command, colours, fonts and progress bars. The executable carries the program's own resources,
// so the icons and the logo are the real ones.
#include <gtest/gtest.h>
#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

#include "app/upgrade_state.h"
#include "ui/control_model.h"
#include "ui/main_dialog.h"
#include "ui/win32/win32_main_dialog.h"

namespace vkt5 {
namespace {

constexpr UINT_PTR WATCHDOG = 99;

struct Event {
    std::uint32_t message;
    std::uintptr_t wParam;
    std::intptr_t lParam;
    bool visible;
};

// Records every event and runs a script on the ticks; a watchdog tick ends a run that would
// otherwise never end.
class ScriptedHandler final : public DialogEventHandler {
  public:
    ScriptedHandler(Win32MainDialog& dialog, std::function<void(int tick)> onTick)
        : dialog_(dialog), onTick_(std::move(onTick)) {}

    std::intptr_t handleEvent(WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                              std::intptr_t lParam) override {
        auto* hwnd = static_cast<HWND>(window);
        events.push_back({message, wParam, lParam, IsWindowVisible(hwnd) != FALSE});
        if (message == MSG_INIT_DIALOG) {
            dialog_.startTimer(1, 15);
            SetTimer(hwnd, WATCHDOG, 5000, nullptr);
        } else if (message == MSG_TIMER && wParam == WATCHDOG) {
            watchdogFired = true;
            dialog_.endMainDialog();
        } else if (message == MSG_TIMER) {
            onTick_(++ticks);
        } else if (message == MSG_COMMAND && endOnCommand != 0 &&
                   (wParam & 0xFFFF) == endOnCommand) {
            dialog_.endMainDialog();
        }
        return 0;
    }

    std::vector<std::uintptr_t> commands() const {
        std::vector<std::uintptr_t> ids;
        for (const Event& e : events) {
            if (e.message == MSG_COMMAND) {
                ids.push_back(e.wParam & 0xFFFF);
            }
        }
        return ids;
    }

    std::vector<Event> events;
    int ticks = 0;
    bool watchdogFired = false;
    std::uintptr_t endOnCommand = 0;

  private:
    Win32MainDialog& dialog_;
    std::function<void(int)> onTick_;
};

void postKey(HWND window, WPARAM key) {
    PostMessageW(window, WM_KEYDOWN, key, 1);
    PostMessageW(window, WM_KEYUP, key, static_cast<LPARAM>(0xC0000001u));
}

LOGFONTW fontOf(HWND window) {
    LOGFONTW font{};
    auto* handle = reinterpret_cast<HFONT>(SendMessageW(window, WM_GETFONT, 0, 0));
    GetObjectW(handle, sizeof(font), &font);
    return font;
}

SIZE iconSize(HWND window, WPARAM which) {
    auto* icon = reinterpret_cast<HICON>(SendMessageW(window, WM_GETICON, which, 0));
    ICONINFO info{};
    if (icon == nullptr || !GetIconInfo(icon, &info)) {
        return {0, 0};
    }
    BITMAP bitmap{};
    GetObjectW(info.hbmColor != nullptr ? info.hbmColor : info.hbmMask, sizeof(bitmap), &bitmap);
    const SIZE size{bitmap.bmWidth,
                    info.hbmColor != nullptr ? bitmap.bmHeight : bitmap.bmHeight / 2};
    if (info.hbmColor != nullptr) {
        DeleteObject(info.hbmColor);
    }
    DeleteObject(info.hbmMask);
    return size;
}

int screenDpi() {
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return dpi;
}

class Win32MainDialogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        state_ = std::make_unique<UpgradeState>();
        state_->dialogWidth = DIALOG_CLIENT_WIDTH;
        state_->dialogHeight = DIALOG_CLIENT_HEIGHT;
        buildMainDialog(*state_, dialog_);
        window_ = dialog_.window();
        ASSERT_NE(window_, nullptr);
    }

    std::unique_ptr<UpgradeState> state_;
    Win32MainDialog dialog_;
    HWND window_ = nullptr;
};

TEST_F(Win32MainDialogTest, BuildsTheFixedWindowHiddenCentredAndExactlySized) {
    EXPECT_EQ(state_->dialog, window_);
    EXPECT_FALSE(IsWindowVisible(window_));

    RECT client{};
    GetClientRect(window_, &client);
    EXPECT_EQ(client.right, 500);
    EXPECT_EQ(client.bottom, 240);

    RECT outer{};
    GetWindowRect(window_, &outer);
    RECT area{};
    ASSERT_TRUE(SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0));
    const Point centred =
        centredPosition(Rect{area.left, area.top, area.right - area.left, area.bottom - area.top},
                        outer.right - outer.left, outer.bottom - outer.top);
    EXPECT_EQ(outer.left, centred.x);
    EXPECT_EQ(outer.top, centred.y);

    const auto style = static_cast<DWORD>(GetWindowLongW(window_, GWL_STYLE));
    EXPECT_EQ(style & 0x00C80854u, 0x00C80854u);
    EXPECT_EQ(style & (WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_POPUP), 0u);

    char caption[256] = {};
    GetWindowTextA(window_, caption, sizeof(caption));
    EXPECT_EQ(std::string(caption), dialogCaption());

    const SIZE big = iconSize(window_, ICON_BIG);
    const SIZE small = iconSize(window_, ICON_SMALL);
    EXPECT_EQ(big.cx, 32);
    EXPECT_EQ(big.cy, 32);
    EXPECT_EQ(small.cx, 16);
    EXPECT_EQ(small.cy, 16);

    // The dialog font and the banner's larger one, both at the screen's resolution.
    const int dpi = screenDpi();
    const LOGFONTW dialogFontNow = fontOf(window_);
    EXPECT_EQ(dialogFontNow.lfHeight, fontPixelHeight(10, dpi));
    EXPECT_EQ(dialogFontNow.lfWeight, 700);
    EXPECT_STREQ(dialogFontNow.lfFaceName, L"Arial");
    HWND banner = GetDlgItem(window_, ID_BANNER);
    ASSERT_NE(banner, nullptr);
    const LOGFONTW bannerFontNow = fontOf(banner);
    EXPECT_EQ(bannerFontNow.lfHeight, fontPixelHeight(12, dpi));
    EXPECT_EQ(bannerFontNow.lfWeight, 700);
    EXPECT_FALSE(bannerFontNow.lfItalic);
    EXPECT_STREQ(bannerFontNow.lfFaceName, L"Arial");

    HWND logo = GetDlgItem(window_, ID_LOGO);
    ASSERT_NE(logo, nullptr);
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongW(logo, GWL_STYLE)), 0x5000000Eu);
    auto* bitmap = reinterpret_cast<HBITMAP>(SendMessageW(logo, STM_GETIMAGE, IMAGE_BITMAP, 0));
    ASSERT_NE(bitmap, nullptr);
    BITMAP picture{};
    GetObjectW(bitmap, sizeof(picture), &picture);
    EXPECT_EQ(picture.bmWidth, 150);
    EXPECT_EQ(picture.bmHeight, 150);
}

TEST_F(Win32MainDialogTest, ControlsGetTheirClassStyleRectangleAndDialogFont) {
    struct Case {
        ControlKind kind;
        std::int32_t id;
        std::uint32_t style;
        const wchar_t* className;
    };
    const Case cases[] = {
        {ControlKind::PushButton, ID_EXIT, STYLE_BUTTON, L"Button"},
        {ControlKind::Label, ID_PROMPT, STYLE_LABEL, L"Static"},
        {ControlKind::ProgressBar, ID_SCAN_PROGRESS, STYLE_PROGRESS_SMOOTH, L"msctls_progress32"},
        {ControlKind::ProgressBar, ID_UPLOAD_PROGRESS, STYLE_PROGRESS, L"msctls_progress32"},
        {ControlKind::ProgressBar, 120, 0, L"msctls_progress32"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        dialog_.addControl(c.kind, c.id, "Text", {20, 30, 94, 24}, c.style);
        HWND child = GetDlgItem(window_, c.id);
        ASSERT_NE(child, nullptr);
        wchar_t className[64] = {};
        GetClassNameW(child, className, 63);
        EXPECT_EQ(_wcsicmp(className, c.className), 0) << c.className;
        EXPECT_EQ(static_cast<DWORD>(GetWindowLongW(child, GWL_STYLE)),
                  windowStyleOf(c.kind, c.style));
        EXPECT_EQ(GetWindowLongW(child, GWL_EXSTYLE), 0);
        RECT r{};
        GetWindowRect(child, &r);
        MapWindowPoints(nullptr, window_, reinterpret_cast<POINT*>(&r), 2);
        EXPECT_EQ(r.left, 20);
        EXPECT_EQ(r.top, 30);
        EXPECT_EQ(r.right - r.left, 94);
        EXPECT_EQ(r.bottom - r.top, 24);
        EXPECT_EQ(SendMessageW(child, WM_GETFONT, 0, 0), SendMessageW(window_, WM_GETFONT, 0, 0));
    }

    dialog_.setProgressRange(ID_SCAN_PROGRESS, 1, 49);
    dialog_.setProgressPosition(ID_SCAN_PROGRESS, 17);
    HWND bar = GetDlgItem(window_, ID_SCAN_PROGRESS);
    EXPECT_EQ(SendMessageW(bar, PBM_GETRANGE, TRUE, 0), 1);
    EXPECT_EQ(SendMessageW(bar, PBM_GETRANGE, FALSE, 0), 49);
    EXPECT_EQ(SendMessageW(bar, PBM_GETPOS, 0, 0), 17);
    // A range that needs all 32 bits.
    dialog_.setProgressRange(ID_UPLOAD_PROGRESS, 0, 100000);
    dialog_.setProgressPosition(ID_UPLOAD_PROGRESS, 70000);
    EXPECT_EQ(SendMessageW(GetDlgItem(window_, ID_UPLOAD_PROGRESS), PBM_GETPOS, 0, 0), 70000);

    // Texts are the program's 8-bit texts in the active code page, cut at a NUL.
    dialog_.setControlText(ID_PROMPT, std::string(" to version V1.002?\0junk", 24));
    char text[64] = {};
    GetWindowTextA(GetDlgItem(window_, ID_PROMPT), text, sizeof(text));
    EXPECT_STREQ(text, " to version V1.002?");

    dialog_.removeControl(ID_PROMPT);
    EXPECT_EQ(GetDlgItem(window_, ID_PROMPT), nullptr);
    dialog_.setControlText(ID_PROMPT, "gone");  // does nothing
    dialog_.removeControl(ID_PROMPT);
}

TEST_F(Win32MainDialogTest, TheBannerIsDarkBlueOnTheFaceColourAndOtherLabelsKeepTheDefault) {
    dialog_.addControl(ControlKind::Label, ID_PROMPT, "plain", {175, 50, 300, 18}, STYLE_LABEL);
    HDC dc = CreateCompatibleDC(nullptr);
    SetTextColor(dc, RGB(1, 2, 3));
    const auto brush = SendMessageW(window_, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                                    reinterpret_cast<LPARAM>(GetDlgItem(window_, ID_BANNER)));
    EXPECT_EQ(GetTextColor(dc), BANNER_TEXT_COLOR);
    EXPECT_EQ(GetBkColor(dc), GetSysColor(COLOR_BTNFACE));
    EXPECT_EQ(reinterpret_cast<HBRUSH>(brush), GetSysColorBrush(COLOR_BTNFACE));

    SetTextColor(dc, RGB(1, 2, 3));
    SendMessageW(window_, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                 reinterpret_cast<LPARAM>(GetDlgItem(window_, ID_PROMPT)));
    EXPECT_NE(GetTextColor(dc), BANNER_TEXT_COLOR);
    DeleteDC(dc);
}

TEST_F(Win32MainDialogTest, RunDeliversInitAndSizeBeforeShowingThenTicksAndCommands) {
    ScriptedHandler handler(dialog_, [this](int tick) {
        if (tick == 1) {
            dialog_.addControl(ControlKind::PushButton, ID_EXIT, "Exit", {230, 200, 94, 24},
                               STYLE_BUTTON);
        } else if (tick == 3) {
            // Posted: a click reaches the button from the message loop, never from inside
            // the handler.
            PostMessageW(GetDlgItem(window_, ID_EXIT), BM_CLICK, 0, 0);
        }
    });
    handler.endOnCommand = ID_EXIT;
    dialog_.runMainDialog(handler);

    EXPECT_FALSE(handler.watchdogFired);
    EXPECT_EQ(dialog_.window(), nullptr);
    EXPECT_FALSE(IsWindow(window_));
    ASSERT_GE(handler.events.size(), 3u);
    int inits = 0;
    for (const Event& e : handler.events) {
        inits += e.message == MSG_INIT_DIALOG ? 1 : 0;
    }
    EXPECT_EQ(inits, 1);
    EXPECT_EQ(handler.events[0].message, MSG_INIT_DIALOG);
    EXPECT_FALSE(handler.events[0].visible);
    EXPECT_EQ(handler.events[1].message, MSG_SIZE);
    EXPECT_EQ(handler.events[1].lParam, MAKELPARAM(500, 240));
    EXPECT_FALSE(handler.events[1].visible);
    EXPECT_EQ(handler.ticks, 3);
    EXPECT_EQ(handler.commands(), std::vector<std::uintptr_t>{ID_EXIT});
    // Nothing reaches the handler once the dialog has ended.
    EXPECT_EQ(handler.events.back().message, MSG_COMMAND);
}

// A watched handle that is set brings MSG_PORT_DATA, and the window's own messages still come
// while it stays set; once the watch is given up, nothing more comes from it.
TEST_F(Win32MainDialogTest, AWatchedHandleDeliversPortDataBesideTheTicksUntilGivenUp) {
    HANDLE port = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(port, nullptr);
    std::size_t eventsAtStop = 0;
    ScriptedHandler handler(dialog_, [&](int tick) {
        if (tick == 1) {
            dialog_.watchPort(reinterpret_cast<std::intptr_t>(port));
            SetEvent(port);  // and never reset: a flood that must not starve the window
        } else if (tick == 10) {
            dialog_.watchPort(SerialPortService::NO_WAIT_HANDLE);
            eventsAtStop = handler.events.size();
        } else if (tick == 20) {
            dialog_.endMainDialog();
        }
    });
    dialog_.runMainDialog(handler);
    CloseHandle(port);

    EXPECT_FALSE(handler.watchdogFired);
    EXPECT_EQ(handler.ticks, 20);
    const auto portData = [&](std::size_t from, std::size_t to) {
        return std::count_if(handler.events.begin() + static_cast<std::ptrdiff_t>(from),
                             handler.events.begin() + static_cast<std::ptrdiff_t>(to),
                             [](const Event& e) { return e.message == MSG_PORT_DATA; });
    };
    EXPECT_GT(portData(0, eventsAtStop), 0);
    EXPECT_EQ(portData(eventsAtStop, handler.events.size()), 0);
}

TEST_F(Win32MainDialogTest, EnterClicksTheDefaultButtonButNeverOneThatWasRemoved) {
    ScriptedHandler handler(dialog_, [this](int tick) {
        switch (tick) {
            case 1:
                dialog_.addControl(ControlKind::PushButton, ID_YES, "Yes", {170, 200, 94, 24},
                                   STYLE_BUTTON);
                dialog_.addControl(ControlKind::PushButton, ID_NO, "No", {280, 200, 94, 24},
                                   STYLE_BUTTON);
                postKey(window_, VK_RETURN);
                break;
            case 4:
                dialog_.removeControl(ID_YES);
                dialog_.removeControl(ID_NO);
                postKey(window_, VK_RETURN);
                postKey(window_, VK_ESCAPE);
                break;
            case 8:
                dialog_.addControl(ControlKind::PushButton, ID_OK, "OK", {230, 200, 94, 24},
                                   STYLE_BUTTON);
                postKey(window_, VK_RETURN);
                break;
            default:
                break;
        }
    });
    handler.endOnCommand = ID_OK;
    dialog_.runMainDialog(handler);

    EXPECT_FALSE(handler.watchdogFired);
    // No (the last button added) on the first Enter; nothing on the Enter without a button;
    // the cancel command for Escape, which leaves the dialog open; OK at the end.
    EXPECT_EQ(handler.commands(),
              (std::vector<std::uintptr_t>{ID_NO, static_cast<std::uintptr_t>(ID_CANCEL), ID_OK}));
}

TEST_F(Win32MainDialogTest, TheCloseCommandEndsTheDialogWhateverTheHandlerDoes) {
    ScriptedHandler handler(dialog_, [this](int tick) {
        if (tick == 2) {
            PostMessageW(window_, WM_SYSCOMMAND, SC_CLOSE, 0);
        }
    });
    dialog_.runMainDialog(handler);

    EXPECT_FALSE(handler.watchdogFired);
    EXPECT_FALSE(IsWindow(window_));
    bool sawSystemCommand = false;
    for (const Event& e : handler.events) {
        sawSystemCommand = sawSystemCommand || (e.message == WM_SYSCOMMAND && e.wParam == SC_CLOSE);
        EXPECT_NE(e.message, MSG_COMMAND) << "closing is not a command";
    }
    EXPECT_TRUE(sawSystemCommand);
    EXPECT_EQ(handler.ticks, 2);
}

TEST_F(Win32MainDialogTest, EndingBeforeTheRunLeavesNothingToRun) {
    dialog_.endMainDialog();
    EXPECT_FALSE(IsWindow(window_));
    ScriptedHandler handler(dialog_, [](int) {});
    dialog_.runMainDialog(handler);
    EXPECT_TRUE(handler.events.empty());
    dialog_.addControl(ControlKind::Label, ID_PROMPT, "late", {0, 0, 10, 10}, STYLE_LABEL);
    EXPECT_EQ(dialog_.startTimer(1, 15), 0);
}

}  // namespace
}  // namespace vkt5
