// The four screens and the upload progress: each a fixed sequence of control operations on the
// dialog. They decide nothing and run only in the order search, version prompt, upload, success.
#pragma once

#include "app/upgrade_state.h"
#include "ui/dialog_host.h"

namespace vkt5 {

void showSearchScreen(UpgradeState& state, DialogHost& dialog);
void showVersionPrompt(UpgradeState& state, DialogHost& dialog);
void showUploadScreen(UpgradeState& state, DialogHost& dialog);
void refreshUploadProgress(UpgradeState& state, DialogHost& dialog);
void showSuccessScreen(UpgradeState& state, DialogHost& dialog);

// The number text of an integer: a sign position (" " for zero and positive, "-" for negative)
// followed by the decimal digits.
std::string numberText(std::int32_t value);

}  // namespace vkt5
