// The prompt-and-answer exchange with the unit's boot loader, one step per call: identification,
// version, then (after the user's Yes) erase and program, one image line per "*" prompt. Waiting
// steps look once for a complete line and otherwise return; sending steps send and move on.
// A line that is not the one awaited is dropped and the step keeps waiting.
#pragma once

#include <string>
#include <string_view>

#include "app/upgrade_state.h"
#include "serial/serial_port_service.h"

namespace vkt5 {

// The unit's identification line, without its CR LF.
inline constexpr std::string_view IDENTIFICATION_LINE = "VKT5";

// Steps the dialogue by one. When the unit is lost, ends early or a send fails, state.failure
// says so and the dialogue does nothing useful any more; the sequencer takes it from there.
void advanceDialogue(UpgradeState& state, SerialPortService& ports);

// The installed version from the unit's version line: upper-cased, then "V" and everything after
// the first " V" ("V" alone when there is none). Uses state.scratch for the upper-cased line.
void versionFromLine(UpgradeState& state);

}  // namespace vkt5
