#include <windows.h>

#include "cli/carried_image.h"
#include "ui/control_model.h"

namespace vkt5::cli {

// Raw-data resource 203 of this executable; its bytes stay mapped for the life of the process.
std::optional<std::string_view> carriedImage() {
    HRSRC found = FindResourceA(nullptr, MAKEINTRESOURCEA(ID_FIRMWARE_IMAGE),
                                MAKEINTRESOURCEA(10));  // RT_RCDATA
    if (found == nullptr) {
        return std::nullopt;
    }
    HGLOBAL loaded = LoadResource(nullptr, found);
    const DWORD size = SizeofResource(nullptr, found);
    const void* bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (bytes == nullptr) {
        return std::nullopt;
    }
    return std::string_view(static_cast<const char*>(bytes), size);
}

}  // namespace vkt5::cli
