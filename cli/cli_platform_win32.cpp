#include "cli/cli_platform_win32.h"

#include <windows.h>

// timeapi.h needs what windows.h defines.
#include <timeapi.h>

#include <io.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <string>

namespace vkt5::cli {

namespace {

std::atomic<bool> interrupted{false};
HANDLE wakeEvent = nullptr;

// Runs on a thread of its own that the system starts for the console event.
BOOL WINAPI onConsoleControl(DWORD type) {
    if (type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT) {
        interrupted = true;
        SetEvent(wakeEvent);
        return TRUE;
    }
    return FALSE;
}

class Win32CliPlatform final : public CliPlatform {
  public:
    Win32CliPlatform() : start_(std::chrono::steady_clock::now()) {
        // Sleeps and timers otherwise come in 15.6 ms steps, which would put two beats into
        // one step now and then.
        timeBeginPeriod(1);
        wakeEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        timer_ = CreateWaitableTimerW(nullptr, FALSE, nullptr);
        SetConsoleCtrlHandler(onConsoleControl, TRUE);
    }
    ~Win32CliPlatform() override {
        SetConsoleCtrlHandler(onConsoleControl, FALSE);
        CloseHandle(timer_);
        CloseHandle(wakeEvent);
        timeEndPeriod(1);
    }

    std::int64_t nowMicros() override {
        return std::chrono::duration_cast<std::chrono::microseconds>(
                   std::chrono::steady_clock::now() - start_)
            .count();
    }

    Wake wait(std::int64_t beatDue, const std::vector<std::intptr_t>& /*handles*/,
              bool wantInput) override {
        Wake wake;
        // A question on the console is answered by a blocking read: the beat waits meanwhile,
        // as the unit waits for its next line.
        if (wantInput) {
            wake.input = true;
            return wake;
        }
        const std::int64_t left = beatDue - nowMicros();
        if (left > 0) {
            LARGE_INTEGER due;
            due.QuadPart = -left * 10;  // relative, in 100 ns units
            SetWaitableTimer(timer_, &due, 0, nullptr, nullptr, FALSE);
            const HANDLE handles[] = {timer_, wakeEvent};
            WaitForMultipleObjects(2, handles, FALSE, INFINITE);
        }
        wake.interrupt = interrupted.exchange(false);
        wake.beat = nowMicros() >= beatDue;
        return wake;
    }

    std::optional<std::string> readLine() override {
        std::string line;
        if (!std::getline(std::cin, line)) {
            std::cin.clear();
            return std::nullopt;
        }
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        return line;
    }

    bool inputIsTerminal() override { return _isatty(_fileno(stdin)) != 0; }
    bool outputIsTerminal() override { return _isatty(_fileno(stdout)) != 0; }
    void out(std::string_view text) override {
        std::fwrite(text.data(), 1, text.size(), stdout);
        std::fflush(stdout);
    }
    void err(std::string_view text) override {
        std::fwrite(text.data(), 1, text.size(), stderr);
        std::fflush(stderr);
    }

    std::string utcTime() override {
        SYSTEMTIME now;
        GetSystemTime(&now);
        char text[32];
        std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02uZ", now.wYear, now.wMonth,
                      now.wDay, now.wHour, now.wMinute, now.wSecond);
        return text;
    }

    bool portWaits() const override { return false; }
    bool posix() const override { return false; }

  private:
    std::chrono::steady_clock::time_point start_;
    HANDLE timer_ = nullptr;
};

}  // namespace

std::unique_ptr<CliPlatform> makeWin32CliPlatform() {
    return std::make_unique<Win32CliPlatform>();
}

}  // namespace vkt5::cli
