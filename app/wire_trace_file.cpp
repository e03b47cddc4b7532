#include "app/wire_trace_file.h"

namespace vkt5 {

WireTraceFile::WireTraceFile(SerialPortService& inner, const char* path)
    : inner_(inner), start_(std::chrono::steady_clock::now()) {
    if (path == nullptr || *path == '\0') {
        return;
    }
    file_.open(path, std::ios::binary | std::ios::trunc);
    if (!file_) {
        return;
    }
    traced_ = std::make_unique<TracedPortService>(
        inner_,
        [this] {
            return std::chrono::duration_cast<std::chrono::microseconds>(
                       std::chrono::steady_clock::now() - start_)
                .count();
        },
        // Flushed line by line: the trace is wanted most when the program did not end well.
        [this](std::string_view line) { file_ << line << '\n'
                                              << std::flush; });
}

}  // namespace vkt5
