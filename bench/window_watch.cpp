// Starts a program and times, from just before the fork, three moments of its main window on the
// X display: mapped (MapNotify), first exposed (Expose), and painted (the window's pixels are no
// longer one flat colour). The window is the first top-level one whose name contains --name.
// Prints key: value lines (milliseconds); with --kill the program is then ended by its PID.
//
//   vkt5-window-watch [--name TEXT] [--timeout SECONDS] [--kill] -- COMMAND [ARGS...]
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

// Windows come and go while we look at them; a vanished one is simply not ours.
int ignoreErrors(Display*, XErrorEvent*) {
    return 0;
}

bool nameMatches(Display* display, Window window, const std::string& wanted) {
    char* name = nullptr;
    bool matches = false;
    if (XFetchName(display, window, &name) != 0 && name != nullptr) {
        matches = std::strstr(name, wanted.c_str()) != nullptr;
        XFree(name);
    }
    return matches;
}

// True once the window shows more than one colour: something has been drawn into it.
bool painted(Display* display, Window window) {
    XWindowAttributes attributes{};
    if (XGetWindowAttributes(display, window, &attributes) == 0 ||
        attributes.map_state != IsViewable) {
        return false;
    }
    XImage* image = XGetImage(display, window, 0, 0, static_cast<unsigned>(attributes.width),
                              static_cast<unsigned>(attributes.height), AllPlanes, ZPixmap);
    if (image == nullptr) {
        return false;
    }
    bool varied = false;
    const int width = image->width;
    const unsigned long first = XGetPixel(image, 0, 0);
    // Every 7th pixel of every 3rd row is plenty to see text, a logo or a progress bar.
    for (int y = 0; y < image->height && !varied; y += 3) {
        for (int x = 0; x < width; x += 7) {
            if (XGetPixel(image, x, y) != first) {
                varied = true;
                break;
            }
        }
    }
    XDestroyImage(image);
    return varied;
}

double msSince(Clock::time_point start, Clock::time_point at) {
    return std::chrono::duration<double, std::milli>(at - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    std::string wanted = "Corvane";
    double timeoutSeconds = 20.0;
    bool killAfter = false;
    int first = 1;
    for (; first < argc; ++first) {
        const std::string arg = argv[first];
        if (arg == "--") {
            ++first;
            break;
        }
        if (arg == "--kill") {
            killAfter = true;
        } else if (arg == "--name" && first + 1 < argc) {
            wanted = argv[++first];
        } else if (arg == "--timeout" && first + 1 < argc) {
            timeoutSeconds = std::atof(argv[++first]);
        } else {
            first = argc;
        }
    }
    if (first >= argc) {
        std::fprintf(
            stderr,
            "usage: vkt5-window-watch [--name TEXT] [--timeout S] [--kill] -- COMMAND...\n");
        return 2;
    }
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        std::fprintf(stderr, "vkt5-window-watch: no display\n");
        return 2;
    }
    XSetErrorHandler(ignoreErrors);
    const Window root = DefaultRootWindow(display);
    XSelectInput(display, root, SubstructureNotifyMask);
    XSync(display, False);

    const Clock::time_point start = Clock::now();
    const pid_t child = fork();
    if (child == 0) {
        execvp(argv[first], argv + first);
        _exit(127);
    }
    std::printf("pid: %d\n", static_cast<int>(child));

    Window ours = 0;
    std::optional<Clock::time_point> mapped;
    std::optional<Clock::time_point> exposed;
    std::optional<Clock::time_point> drawn;
    const auto deadline = start + std::chrono::duration<double>(timeoutSeconds);
    bool childGone = false;
    while (!drawn && Clock::now() < deadline && !childGone) {
        while (XPending(display) > 0) {
            XEvent event{};
            XNextEvent(display, &event);
            const Clock::time_point at = Clock::now();
            if (event.type == CreateNotify && event.xcreatewindow.parent == root) {
                XSelectInput(display, event.xcreatewindow.window,
                             StructureNotifyMask | ExposureMask);
            } else if (event.type == MapNotify && ours == 0 &&
                       nameMatches(display, event.xmap.window, wanted)) {
                ours = event.xmap.window;
                mapped = at;
            } else if (event.type == Expose && event.xexpose.window == ours && !exposed) {
                exposed = at;
            }
        }
        if (exposed && painted(display, ours)) {
            drawn = Clock::now();
            break;
        }
        pollfd p{ConnectionNumber(display), POLLIN, 0};
        ::poll(&p, 1, exposed ? 1 : 20);
        int status = 0;
        childGone = waitpid(child, &status, WNOHANG) == child;
    }

    if (mapped) {
        std::printf("mapped_ms: %.1f\n", msSince(start, *mapped));
    }
    if (exposed) {
        std::printf("exposed_ms: %.1f\n", msSince(start, *exposed));
    }
    if (drawn) {
        std::printf("painted_ms: %.1f\n", msSince(start, *drawn));
    }
    std::fflush(stdout);
    if ((killAfter || !drawn) && !childGone) {
        kill(child, SIGTERM);
        waitpid(child, nullptr, 0);
    }
    XCloseDisplay(display);
    return drawn ? 0 : 1;
}
