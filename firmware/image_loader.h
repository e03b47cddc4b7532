// Splits the carried image into the line table: counts the CR LF pairs (lineCount), stores each
// line without its CR LF, and the text after the last pair in entry lineCount. Lone CR or LF bytes
// stay inside their line. The table grows past IMAGE_TABLE_SIZE only for an image that needs it.
#pragma once

#include <string_view>

#include "app/upgrade_state.h"

namespace vkt5 {

// Loads the text held in state.scratch. Returns true when the image has at least one line to send.
bool loadImage(UpgradeState& state);

}  // namespace vkt5
