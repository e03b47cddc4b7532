// The window's wire trace: with a file name (VKT5_TRACE), every byte each way goes to that file
// through the TracedPortService decorator, times counted from the start of the program; without
// one the ports are used as they are. ports() is what start-up should be given.
#pragma once

#include <chrono>
#include <fstream>
#include <memory>

#include "serial/traced_port_service.h"

namespace vkt5 {

class WireTraceFile {
  public:
    // path: nullptr or empty for no trace. A file that cannot be written leaves the trace off.
    WireTraceFile(SerialPortService& inner, const char* path);

    SerialPortService& ports() { return traced_ ? *traced_ : inner_; }

  private:
    SerialPortService& inner_;
    std::ofstream file_;
    std::chrono::steady_clock::time_point start_;
    std::unique_ptr<TracedPortService> traced_;
};

}  // namespace vkt5
