// The platform's own upper-casing in the active ANSI code page.
#include <windows.h>

#include "firmware/ansi_upper_case.h"

namespace vkt5 {

std::string ansiUpperCase(std::string_view text) {
    std::string out(text);
    if (!out.empty()) {
        CharUpperBuffA(out.data(), static_cast<DWORD>(out.size()));
    }
    return out;
}

}  // namespace vkt5
