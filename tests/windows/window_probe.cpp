// vkt5-window-probe: looks at the program's dialog from another process of the same Wine session,
// the way a person would see it but in numbers: the window's frame and client rectangles, its
// style and icons, and every child control with its class, id, style, client rectangle and text.
// It can also wait for a control to appear or go, and ask the window to close.
//
//   vkt5-window-probe TITLE [--wait-control ID] [--wait-gone ID] [--timeout SECONDS] [--close]
//                     [--key return|escape]
//
// TITLE is a part of the caption. Prints key=value lines; exit status 0 when the window was found
// and every wait was met, 1 otherwise.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Search {
    std::wstring title;
    HWND found = nullptr;
};

BOOL CALLBACK findWindow(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<Search*>(context);
    wchar_t text[512] = {};
    GetWindowTextW(window, text, 511);
    if (IsWindowVisible(window) && std::wcsstr(text, search->title.c_str()) != nullptr) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

std::string narrow(const wchar_t* text) {
    char out[1024] = {};
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out, sizeof(out) - 1, nullptr, nullptr);
    return out;
}

BOOL CALLBACK listControl(HWND child, LPARAM context) {
    HWND dialog = reinterpret_cast<HWND>(context);
    if (GetParent(child) != dialog) {
        return TRUE;
    }
    wchar_t className[64] = {};
    GetClassNameW(child, className, 63);
    wchar_t text[512] = {};
    GetWindowTextW(child, text, 511);
    RECT r{};
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
    std::printf(
        "control id=%d class=%s style=0x%08lX exstyle=0x%08lX rect=%ld,%ld,%ld,%ld "
        "visible=%d text=\"%s\"\n",
        GetDlgCtrlID(child), narrow(className).c_str(),
        static_cast<unsigned long>(GetWindowLongW(child, GWL_STYLE)),
        static_cast<unsigned long>(GetWindowLongW(child, GWL_EXSTYLE)), r.left, r.top,
        r.right - r.left, r.bottom - r.top, IsWindowVisible(child) ? 1 : 0, narrow(text).c_str());
    return TRUE;
}

void printIcon(const char* name, HWND dialog, WPARAM which) {
    HICON icon = reinterpret_cast<HICON>(SendMessageW(dialog, WM_GETICON, which, 0));
    ICONINFO info{};
    BITMAP bitmap{};
    if (icon != nullptr && GetIconInfo(icon, &info)) {
        HBITMAP picture = info.hbmColor != nullptr ? info.hbmColor : info.hbmMask;
        GetObjectW(picture, sizeof(bitmap), &bitmap);
        const long heightOf = info.hbmColor != nullptr ? bitmap.bmHeight : bitmap.bmHeight / 2;
        std::printf("%s=%ldx%ld\n", name, static_cast<long>(bitmap.bmWidth), heightOf);
        if (info.hbmColor != nullptr) {
            DeleteObject(info.hbmColor);
        }
        if (info.hbmMask != nullptr) {
            DeleteObject(info.hbmMask);
        }
    } else {
        std::printf("%s=%s\n", name, icon != nullptr ? "unreadable" : "none");
    }
}

void postKey(HWND dialog, WPARAM key) {
    PostMessageW(dialog, WM_KEYDOWN, key, 1);
    PostMessageW(dialog, WM_KEYUP, key, static_cast<LPARAM>(0xC0000001u));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: vkt5-window-probe TITLE [options]\n");
        return 2;
    }
    Search search;
    const std::string title = argv[1];
    search.title.assign(title.begin(), title.end());
    int waitControl = 0;
    int waitGone = 0;
    double timeout = 10;
    bool close = false;
    WPARAM key = 0;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--wait-control" && hasValue) {
            waitControl = std::atoi(argv[++i]);
        } else if (arg == "--wait-gone" && hasValue) {
            waitGone = std::atoi(argv[++i]);
        } else if (arg == "--timeout" && hasValue) {
            timeout = std::atof(argv[++i]);
        } else if (arg == "--close") {
            close = true;
        } else if (arg == "--key" && hasValue) {
            const std::string name = argv[++i];
            key = name == "return" ? VK_RETURN : name == "escape" ? VK_ESCAPE : 0;
        } else {
            std::fprintf(stderr, "unknown option %s\n", arg.c_str());
            return 2;
        }
    }

    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(timeout * 1000);
    const auto waitFor = [&](auto&& done) {
        while (!done()) {
            if (GetTickCount64() > deadline) {
                return false;
            }
            Sleep(20);
        }
        return true;
    };

    if (!waitFor([&] {
            search.found = nullptr;
            EnumWindows(findWindow, reinterpret_cast<LPARAM>(&search));
            return search.found != nullptr;
        })) {
        std::printf("window=none\n");
        return 1;
    }
    HWND dialog = search.found;
    bool met = true;
    if (waitControl != 0) {
        met = waitFor([&] { return GetDlgItem(dialog, waitControl) != nullptr; }) && met;
    }
    if (waitGone != 0) {
        met = waitFor([&] { return GetDlgItem(dialog, waitGone) == nullptr; }) && met;
    }

    RECT outer{};
    RECT client{};
    GetWindowRect(dialog, &outer);
    GetClientRect(dialog, &client);
    POINT origin{0, 0};
    ClientToScreen(dialog, &origin);
    wchar_t caption[512] = {};
    GetWindowTextW(dialog, caption, 511);
    std::printf("caption=%s\n", narrow(caption).c_str());
    std::printf("window=%ld,%ld,%ld,%ld\n", outer.left, outer.top, outer.right - outer.left,
                outer.bottom - outer.top);
    std::printf("client=%ld,%ld\n", client.right, client.bottom);
    std::printf("client_origin=%ld,%ld\n", origin.x, origin.y);
    std::printf("frame_offset=%ld,%ld\n", origin.x - outer.left, origin.y - outer.top);
    std::printf("style=0x%08lX\n", static_cast<unsigned long>(GetWindowLongW(dialog, GWL_STYLE)));
    std::printf("exstyle=0x%08lX\n",
                static_cast<unsigned long>(GetWindowLongW(dialog, GWL_EXSTYLE)));
    RECT area{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    std::printf("work_area=%ld,%ld,%ld,%ld\n", area.left, area.top, area.right - area.left,
                area.bottom - area.top);
    printIcon("big_icon", dialog, ICON_BIG);
    printIcon("small_icon", dialog, ICON_SMALL);
    const LRESULT defaultId = SendMessageW(dialog, DM_GETDEFID, 0, 0);
    std::printf("default_id=%d\n", HIWORD(defaultId) == DC_HASDEFID ? LOWORD(defaultId) : 0);
    EnumChildWindows(dialog, listControl, reinterpret_cast<LPARAM>(dialog));
    std::fflush(stdout);

    if (key != 0) {
        postKey(dialog, key);
    }
    if (close) {
        PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    }
    return met ? 0 : 1;
}
