#include "ui/win32/win32_main_dialog.h"

#include <commctrl.h>

#include <charconv>
#include <string>
#include <vector>

namespace vkt5 {

namespace {

// WS_CAPTION | WS_SYSMENU | DS_CENTER: a caption with a close box, no resizing border, no
// minimise or maximise box. DS_SETFONT, DS_NOFAILCREATE and DS_3DLOOK come with the template;
// WS_VISIBLE and DS_SYSMODAL stay off, so the window is hidden until the handler has put the
// first screen in place.
constexpr DWORD DIALOG_STYLE = 0x00C80854;

// Dialog units are only a first guess at the size; the window is measured and resized to the
// exact client size right after creation.
constexpr short TEMPLATE_WIDTH = 285;
constexpr short TEMPLATE_HEIGHT = 120;

// An extended dialog template with no controls: empty menu and class, a caption of one space,
// and the dialog font. The words are kept in a vector of WORD, which new[] aligns well enough
// for the DWORD alignment the dialog manager wants.
std::vector<WORD> dialogTemplate(const FontSpec& font) {
    std::vector<WORD> t;
    const auto word = [&t](WORD w) { t.push_back(w); };
    const auto dword = [&word](DWORD d) {
        word(LOWORD(d));
        word(HIWORD(d));
    };
    const auto text = [&word](std::wstring_view s) {
        for (const wchar_t c : s) {
            word(static_cast<WORD>(c));
        }
        word(0);
    };
    word(1);       // dlgVer
    word(0xFFFF);  // signature: extended template
    dword(0);      // helpID
    dword(0);      // exStyle
    dword(DIALOG_STYLE);
    word(0);                      // cDlgItems
    word(static_cast<WORD>(-1));  // x: the position is worked out by the program
    word(static_cast<WORD>(-1));  // y
    word(static_cast<WORD>(TEMPLATE_WIDTH));
    word(static_cast<WORD>(TEMPLATE_HEIGHT));
    word(0);  // no menu
    word(0);  // the standard dialog class
    text(L" ");
    word(static_cast<WORD>(font.points));
    word(static_cast<WORD>(font.weight));
    word(MAKEWORD(font.italic ? 1 : 0, static_cast<BYTE>(font.charSet)));
    std::wstring face(font.face.begin(), font.face.end());
    text(face);
    return t;
}

// The program's texts are 8-bit, in the active code page; a window text ends at the first NUL.
std::wstring wideText(std::string_view text) {
    text = text.substr(0, text.find('\0'));
    if (text.empty()) {
        return {};
    }
    const int length =
        MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (length <= 0) {
        return {};
    }
    std::wstring out(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(), length);
    return out;
}

const wchar_t* classOf(ControlKind kind) {
    switch (kind) {
        case ControlKind::PushButton:
            return L"BUTTON";
        case ControlKind::Label:
        case ControlKind::Image:
            return L"STATIC";
        case ControlKind::ProgressBar:
            return PROGRESS_CLASSW;
    }
    return L"STATIC";
}

int width(const RECT& r) {
    return r.right - r.left;
}
int height(const RECT& r) {
    return r.bottom - r.top;
}

}  // namespace

Win32MainDialog::Win32MainDialog() : instance_(GetModuleHandleW(nullptr)) {
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof(controls);
    controls.dwICC = ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS;
    InitCommonControlsEx(&controls);
}

Win32MainDialog::~Win32MainDialog() {
    if (dialog_ != nullptr) {
        ending_ = true;
        DestroyWindow(dialog_);
    }
    releaseResources();
}

WindowHandle Win32MainDialog::createDialog(std::string_view caption, std::int32_t clientWidth,
                                           std::int32_t clientHeight) {
    if (dialog_ != nullptr) {
        return dialog_;
    }
    const std::vector<WORD> layout = dialogTemplate(dialogFont());
    ending_ = false;
    dialog_ = CreateDialogIndirectParamW(
        instance_, reinterpret_cast<LPCDLGTEMPLATEW>(layout.data()), nullptr,
        &Win32MainDialog::dialogProcedure, reinterpret_cast<LPARAM>(this));
    if (dialog_ == nullptr) {
        return nullptr;
    }

    // The frame and caption are what the window has around its client area now, whatever the
    // theme, the caption font or the resolution; a second pass catches a frame that changed
    // with the size.
    for (int pass = 0; pass < 2; ++pass) {
        RECT outer{};
        RECT client{};
        GetWindowRect(dialog_, &outer);
        GetClientRect(dialog_, &client);
        if (width(client) == clientWidth && height(client) == clientHeight) {
            break;
        }
        SetWindowPos(dialog_, nullptr, 0, 0, clientWidth + width(outer) - width(client),
                     clientHeight + height(outer) - height(client),
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }

    RECT outer{};
    GetWindowRect(dialog_, &outer);
    RECT area{};
    if (!SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0)) {
        area = RECT{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    }
    const Point at = centredPosition(Rect{area.left, area.top, width(area), height(area)},
                                     width(outer), height(outer));
    SetWindowPos(dialog_, nullptr, at.x, at.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);

    SetWindowTextA(dialog_, std::string(caption.substr(0, caption.find('\0'))).c_str());
    return dialog_;
}

void Win32MainDialog::setDialogIcons(std::int32_t iconGroup) {
    if (dialog_ == nullptr) {
        return;
    }
    // Each at exactly its size: the big icon is the group's 32 px picture and the small one its
    // 16 px picture, whatever sizes the system would prefer.
    const auto load = [this, iconGroup](int size) {
        return static_cast<HICON>(LoadImageW(instance_,
                                             MAKEINTRESOURCEW(static_cast<WORD>(iconGroup)),
                                             IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
    };
    HICON big = load(32);
    HICON small = load(16);
    if (big != nullptr) {
        SendMessageW(dialog_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big));
        if (bigIcon_ != nullptr) {
            DestroyIcon(bigIcon_);
        }
        bigIcon_ = big;
    }
    if (small != nullptr) {
        SendMessageW(dialog_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small));
        if (smallIcon_ != nullptr) {
            DestroyIcon(smallIcon_);
        }
        smallIcon_ = small;
    }
}

HWND Win32MainDialog::control(std::int32_t id) const {
    if (dialog_ == nullptr) {
        return nullptr;
    }
    return GetDlgItem(dialog_, id);
}

void Win32MainDialog::addControl(ControlKind kind, std::int32_t id, std::string_view text,
                                 Rect rect, std::uint32_t style) {
    if (dialog_ == nullptr) {
        return;
    }
    if (control(id) != nullptr) {
        removeControl(id);
    }
    const std::wstring caption = kind == ControlKind::Image ? std::wstring() : wideText(text);
    HWND child = CreateWindowExW(
        0, classOf(kind), caption.c_str(), static_cast<DWORD>(windowStyleOf(kind, style)), rect.x,
        rect.y, rect.width, rect.height, dialog_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
        instance_, nullptr);
    if (child == nullptr) {
        return;
    }
    SendMessageW(child, WM_SETFONT, SendMessageW(dialog_, WM_GETFONT, 0, 0), TRUE);

    if (kind == ControlKind::PushButton) {
        SendMessageW(dialog_, DM_SETDEFID, static_cast<WPARAM>(id), 0);
        defaultButton_ = id;
    } else if (kind == ControlKind::Image) {
        // The text names the bitmap: "#202" for resource 202, anything else a named resource.
        const std::string name(text.substr(0, text.find('\0')));
        LPCSTR resource = name.c_str();
        WORD number = 0;
        if (name.size() > 1 && name[0] == '#' &&
            std::from_chars(name.data() + 1, name.data() + name.size(), number).ptr ==
                name.data() + name.size()) {
            resource = MAKEINTRESOURCEA(number);
        }
        auto* bitmap = static_cast<HBITMAP>(
            LoadImageA(instance_, resource, IMAGE_BITMAP, 0, 0, LR_LOADMAP3DCOLORS));
        if (bitmap != nullptr) {
            SendMessageW(child, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(bitmap));
            bitmaps_[id] = bitmap;
        }
    }
}

void Win32MainDialog::removeControl(std::int32_t id) {
    HWND child = control(id);
    if (child == nullptr) {
        return;
    }
    DestroyWindow(child);
    colors_.erase(id);
    if (const auto it = bitmaps_.find(id); it != bitmaps_.end()) {
        DeleteObject(it->second);
        bitmaps_.erase(it);
    }
    // The dialog manager would go on answering Enter with the id of a default button that no
    // longer exists; during the upload that would be the No of the version prompt, which ends
    // the program in the middle of programming.
    if (id == defaultButton_) {
        defaultButton_ = 0;
        SendMessageW(dialog_, DM_SETDEFID, 0, 0);
    }
}

void Win32MainDialog::setControlText(std::int32_t id, std::string_view text) {
    if (HWND child = control(id)) {
        SetWindowTextW(child, wideText(text).c_str());
    }
}

HFONT Win32MainDialog::realise(const FontSpec& font) {
    if (font == dialogFont()) {
        if (auto* own = reinterpret_cast<HFONT>(SendMessageW(dialog_, WM_GETFONT, 0, 0))) {
            return own;
        }
    }
    const auto key = std::make_tuple(font.face, font.points, font.weight, font.italic, font.charSet,
                                     font.pitchAndFamily, font.escapement);
    if (const auto it = fonts_.find(key); it != fonts_.end()) {
        return it->second;
    }
    HDC screen = GetDC(dialog_);
    const int dpi = screen != nullptr ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
    if (screen != nullptr) {
        ReleaseDC(dialog_, screen);
    }
    LOGFONTW logical{};
    logical.lfHeight = fontPixelHeight(font.points, dpi);
    logical.lfWidth = 0;
    logical.lfEscapement = font.escapement;
    logical.lfOrientation = 0;
    logical.lfWeight = font.weight;
    logical.lfItalic = font.italic ? TRUE : FALSE;
    logical.lfUnderline = FALSE;
    logical.lfStrikeOut = FALSE;
    logical.lfCharSet = static_cast<BYTE>(font.charSet);
    logical.lfOutPrecision = 0;
    logical.lfClipPrecision = 0;
    logical.lfQuality = 0;
    logical.lfPitchAndFamily = static_cast<BYTE>(font.pitchAndFamily);
    const std::wstring face = wideText(font.face);
    face.copy(logical.lfFaceName, LF_FACESIZE - 1);
    HFONT made = CreateFontIndirectW(&logical);
    if (made != nullptr) {
        fonts_[key] = made;
    }
    return made;
}

void Win32MainDialog::setControlFont(std::int32_t id, const FontSpec& font) {
    HWND child = control(id);
    if (child == nullptr) {
        return;
    }
    // A font that cannot be made leaves the control in the font it has.
    if (HFONT made = realise(font)) {
        SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(made), TRUE);
    }
}

HBRUSH Win32MainDialog::backgroundBrush(std::int32_t background) {
    if (background == DEFAULT_BACKGROUND) {
        return GetSysColorBrush(COLOR_BTNFACE);
    }
    if (const auto it = brushes_.find(background); it != brushes_.end()) {
        return it->second;
    }
    HBRUSH brush = CreateSolidBrush(static_cast<COLORREF>(background));
    if (brush == nullptr) {
        return GetSysColorBrush(COLOR_BTNFACE);
    }
    brushes_[background] = brush;
    return brush;
}

void Win32MainDialog::setControlColor(std::int32_t id, ColorRef text, std::int32_t background) {
    HWND child = control(id);
    if (child == nullptr) {
        return;
    }
    colors_[id] = ControlColor{static_cast<COLORREF>(text), background};
    InvalidateRect(child, nullptr, TRUE);
}

void Win32MainDialog::setProgressRange(std::int32_t id, std::int32_t low, std::int32_t high) {
    if (HWND bar = control(id)) {
        SendMessageW(bar, PBM_SETRANGE32, static_cast<WPARAM>(low), static_cast<LPARAM>(high));
    }
}

void Win32MainDialog::setProgressPosition(std::int32_t id, std::int32_t position) {
    if (HWND bar = control(id)) {
        SendMessageW(bar, PBM_SETPOS, static_cast<WPARAM>(position), 0);
    }
}

std::int32_t Win32MainDialog::startTimer(std::int32_t timerId, std::int32_t intervalMs) {
    if (dialog_ == nullptr || ending_) {
        return 0;
    }
    const UINT_PTR started = SetTimer(dialog_, static_cast<UINT_PTR>(timerId),
                                      static_cast<UINT>(intervalMs < 0 ? 0 : intervalMs), nullptr);
    return static_cast<std::int32_t>(started);
}

void Win32MainDialog::stopTimer(std::int32_t timerId) {
    if (dialog_ != nullptr) {
        KillTimer(dialog_, static_cast<UINT_PTR>(timerId));
    }
}

void Win32MainDialog::endMainDialog() {
    if (dialog_ == nullptr || ending_) {
        return;
    }
    ending_ = true;
    watchedPort_ = nullptr;
    SendMessageW(dialog_, WM_CLOSE, 0, 0);
    if (dialog_ != nullptr) {
        DestroyWindow(dialog_);
    }
}

bool Win32MainDialog::enterWouldReachNothing(const MSG& message) const {
    if (message.message != WM_KEYDOWN || message.wParam != VK_RETURN) {
        return false;
    }
    if (message.hwnd != dialog_ && !IsChild(dialog_, message.hwnd)) {
        return false;
    }
    // A button with the focus takes Enter itself; otherwise only a default button that is still
    // there may receive it.
    HWND focus = GetFocus();
    if (focus != nullptr && IsChild(dialog_, focus) &&
        (SendMessageW(focus, WM_GETDLGCODE, 0, 0) & (DLGC_DEFPUSHBUTTON | DLGC_UNDEFPUSHBUTTON))) {
        return false;
    }
    return defaultButton_ == 0 || control(defaultButton_) == nullptr;
}

void Win32MainDialog::runMainDialog(DialogEventHandler& handler) {
    if (dialog_ == nullptr) {
        return;
    }
    // The activation that the foreground change brings is the dialog manager's business; the
    // handler's first event is the initialisation.
    SetForegroundWindow(dialog_);
    handler_ = &handler;
    deliver(WM_INITDIALOG, 0, 0);
    if (dialog_ != nullptr) {
        RECT client{};
        GetClientRect(dialog_, &client);
        deliver(WM_SIZE, SIZE_RESTORED, MAKELPARAM(width(client), height(client)));
    }
    if (dialog_ != nullptr) {
        ShowWindow(dialog_, SW_SHOW);
        UpdateWindow(dialog_);
        SetForegroundWindow(dialog_);
    }

    // Every message waits in GetMessage, or, while a port is watched, in
    // MsgWaitForMultipleObjectsEx together with the port's event; the dialog's own end is a
    // DestroyWindow inside a dispatched message, so the check after each one sees it at once.
    MSG message{};
    while (dialog_ != nullptr && IsWindow(dialog_)) {
        if (watchedPort_ != nullptr) {
            if (!takeQueuedMessages()) {
                break;
            }
            if (watchedPort_ == nullptr || dialog_ == nullptr) {
                continue;
            }
            const DWORD woke = MsgWaitForMultipleObjectsEx(1, &watchedPort_, INFINITE, QS_ALLINPUT,
                                                           MWMO_INPUTAVAILABLE);
            if (woke == WAIT_OBJECT_0) {
                deliver(MSG_PORT_DATA, 0, 0);
            } else if (woke == WAIT_FAILED) {
                watchedPort_ = nullptr;  // a handle that cannot be waited for: ticks alone
            }
            continue;
        }
        const BOOL got = GetMessageW(&message, nullptr, 0, 0);
        if (got == -1) {
            break;
        }
        if (got == 0) {
            // Someone asked the thread to quit; leave the request for whoever loops next.
            PostQuitMessage(static_cast<int>(message.wParam));
            break;
        }
        dispatch(message);
    }
    watchedPort_ = nullptr;
    handler_ = nullptr;
}

bool Win32MainDialog::takeQueuedMessages() {
    MSG message{};
    while (dialog_ != nullptr && PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(message.wParam));
            return false;
        }
        dispatch(message);
    }
    return dialog_ != nullptr && IsWindow(dialog_);
}

void Win32MainDialog::dispatch(MSG& message) {
    if (enterWouldReachNothing(message)) {
        return;
    }
    if (!IsDialogMessageW(dialog_, &message)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

void Win32MainDialog::watchPort(std::intptr_t waitHandle) {
    watchedPort_ = waitHandle == SerialPortService::NO_WAIT_HANDLE || dialog_ == nullptr
                       ? nullptr
                       : reinterpret_cast<HANDLE>(waitHandle);
}

void Win32MainDialog::showImageError(std::string_view message) {
    const std::string text(message.substr(0, message.find('\0')));
    const std::string caption = dialogCaption();
    MessageBoxA(dialog_, text.c_str(), caption.c_str(), MB_OK | MB_ICONERROR);
}

void Win32MainDialog::deliver(UINT message, WPARAM wParam, LPARAM lParam) {
    if (handler_ == nullptr || inHandler_ || dialog_ == nullptr) {
        return;
    }
    inHandler_ = true;
    handler_->handleEvent(dialog_, message, wParam, lParam);
    inHandler_ = false;
}

INT_PTR CALLBACK Win32MainDialog::dialogProcedure(HWND window, UINT message, WPARAM wParam,
                                                  LPARAM lParam) {
    auto* self = reinterpret_cast<Win32MainDialog*>(GetWindowLongPtrW(window, DWLP_USER));
    if (self == nullptr) {
        // The first message with our pointer; what comes before it is the dialog manager's own
        // set-up, and the initialisation the handler sees comes later, from runMainDialog.
        if (message == WM_INITDIALOG) {
            SetWindowLongPtrW(window, DWLP_USER, lParam);
        }
        return FALSE;
    }
    return self->handleMessage(message, wParam, lParam);
}

INT_PTR Win32MainDialog::handleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    deliver(message, wParam, lParam);
    switch (message) {
        case WM_CLOSE:
            // The dialog manager would turn a close into the cancel command, which the handler
            // ignores; the window must close in every phase instead.
            endMainDialog();
            return TRUE;
        case WM_CTLCOLORSTATIC: {
            const auto it = colors_.find(GetDlgCtrlID(reinterpret_cast<HWND>(lParam)));
            if (it == colors_.end()) {
                return FALSE;
            }
            auto* dc = reinterpret_cast<HDC>(wParam);
            SetTextColor(dc, it->second.text);
            SetBkColor(dc, it->second.background == DEFAULT_BACKGROUND
                               ? GetSysColor(COLOR_BTNFACE)
                               : static_cast<COLORREF>(it->second.background));
            return reinterpret_cast<INT_PTR>(backgroundBrush(it->second.background));
        }
        case WM_NCDESTROY:
            forgetWindow();
            return FALSE;
        default:
            return FALSE;
    }
}

void Win32MainDialog::forgetWindow() {
    if (dialog_ != nullptr) {
        SetWindowLongPtrW(dialog_, DWLP_USER, 0);
    }
    dialog_ = nullptr;
    defaultButton_ = 0;
    colors_.clear();
}

void Win32MainDialog::releaseResources() {
    for (auto& [id, bitmap] : bitmaps_) {
        DeleteObject(bitmap);
    }
    bitmaps_.clear();
    for (auto& [key, font] : fonts_) {
        DeleteObject(font);
    }
    fonts_.clear();
    for (auto& [colour, brush] : brushes_) {
        DeleteObject(brush);
    }
    brushes_.clear();
    if (bigIcon_ != nullptr) {
        DestroyIcon(bigIcon_);
        bigIcon_ = nullptr;
    }
    if (smallIcon_ != nullptr) {
        DestroyIcon(smallIcon_);
        smallIcon_ = nullptr;
    }
}

}  // namespace vkt5
