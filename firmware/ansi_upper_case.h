// Upper-casing of 8-bit text in the active ANSI code page. On Windows this is the platform's own
// (ansi_upper_case_win32.cpp); elsewhere the Windows-1252 rules (ansi_upper_case_cp1252.cpp), so
// that both builds turn the same version line into the same text. The length never changes.
#pragma once

#include <string>
#include <string_view>

namespace vkt5 {

std::string ansiUpperCase(std::string_view text);

}  // namespace vkt5
