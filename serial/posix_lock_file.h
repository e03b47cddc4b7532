// Lock files as terminal programs on Linux share them: a device is taken by creating
// LCK..<name> in a lock folder (/run/lock, /var/lock) holding the holder's PID, either as ASCII
// (ten characters, right-aligned, and a line end) or, in old files, as a 4-byte binary int. A
// file whose process is alive means the device is in use; one whose process is gone is stale
// and is removed.
//
// The name is the device's path below /dev with '/' turned into '_' ("ttyUSB0", "pts_3"), after
// symbolic links are followed, so a device reached by another path finds the same lock. A lock
// is taken in the first folder that lets us create a file; when none does, the device is used
// without one (the flock and TIOCEXCL still hold it). A PortLockFile removes its file when it
// goes, and only a file it created.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vkt5 {

inline constexpr const char* LOCK_DIRS_ENVIRONMENT_VARIABLE = "VKT5_LOCK_DIRS";

// /run/lock and /var/lock, or the folders a VKT5_LOCK_DIRS value lists (separated by ':'; an
// empty value means no lock files at all).
std::vector<std::string> lockDirectories(std::optional<std::string_view> variable);

// "LCK..ttyUSB0" for "/dev/ttyUSB0"; the path is taken as given (links already followed).
std::string lockFileName(std::string_view devicePath);

// The PID a lock file holds; nullopt when the content is neither form.
std::optional<pid_t> lockHolder(std::string_view content);

// A lock file this process created; removed when the object goes.
class PortLockFile {
  public:
    PortLockFile() = default;  // holds no file
    explicit PortLockFile(std::string path) : path_(std::move(path)) {}
    ~PortLockFile();
    PortLockFile(PortLockFile&& other) noexcept;
    PortLockFile& operator=(PortLockFile&& other) noexcept;
    PortLockFile(const PortLockFile&) = delete;
    PortLockFile& operator=(const PortLockFile&) = delete;

    const std::string& path() const { return path_; }  // empty: no file

  private:
    std::string path_;
};

// Whether a live process holds the device by a lock file in any of the folders (this process
// included: a second open of a device we hold is refused like any other). Stale files found on
// the way are removed. A file that names no PID counts as held: its owner may have created it and
// not yet written it.
bool lockedByLiveProcess(const std::vector<std::string>& directories,
                         const std::string& devicePath);

// Takes the device's lock in the first folder that allows it. `inUse` when another process got
// there between the look and the take.
struct LockAttempt {
    bool inUse = false;
    PortLockFile lock;
};
LockAttempt takePortLock(const std::vector<std::string>& directories,
                         const std::string& devicePath);

// The device path with its symbolic links followed, as lock files name it.
std::string lockedPathOf(const std::string& devicePath);

}  // namespace vkt5
