// The screens and the upload progress: each a fixed sequence of control operations on the dialog.
// They decide nothing. A run goes search, version prompt, upload, success; the failure screen
// can replace the version prompt or the upload, the no-answer warning comes and goes on the
// upload screen, and Retry leads from either back to the search screen.
#pragma once

#include "app/upgrade_state.h"
#include "ui/dialog_host.h"

namespace vkt5 {

void showSearchScreen(UpgradeState& state, DialogHost& dialog);
void showVersionPrompt(UpgradeState& state, DialogHost& dialog);
void showUploadScreen(UpgradeState& state, DialogHost& dialog);
void refreshUploadProgress(UpgradeState& state, DialogHost& dialog);
void showSuccessScreen(UpgradeState& state, DialogHost& dialog);

// Replaces the screen of state.phase (the version prompt or the upload) with the failure screen
// for state.failure: what happened, where, what to do, and Retry (the default) and Exit.
void showFailureScreen(UpgradeState& state, DialogHost& dialog);
// The upload screen's warning that the unit has not answered for `seconds`, with Retry and Exit.
void showSilenceWarning(UpgradeState& state, DialogHost& dialog, std::int32_t seconds);
void hideSilenceWarning(UpgradeState& state, DialogHost& dialog);
// Removes every control of the screen that state.phase shows, leaving the logo and the banner.
void removeScreen(UpgradeState& state, DialogHost& dialog);

// The number text of an integer: a sign position (" " for zero and positive, "-" for negative)
// followed by the decimal digits.
std::string numberText(std::int32_t value);

}  // namespace vkt5
