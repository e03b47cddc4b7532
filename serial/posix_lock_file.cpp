#include "serial/posix_lock_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace vkt5 {

namespace {

constexpr std::string_view DEV_PREFIX = "/dev/";

std::string joinPath(const std::string& directory, const std::string& name) {
    return directory.empty() || directory.back() == '/' ? directory + name : directory + "/" + name;
}

// Up to 32 bytes of the file; nullopt when it cannot be read at all (gone meanwhile).
std::optional<std::string> readSmallFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        return std::nullopt;
    }
    char buffer[32];
    ssize_t got;
    do {
        got = ::read(fd, buffer, sizeof buffer);
    } while (got < 0 && errno == EINTR);
    ::close(fd);
    if (got < 0) {
        return std::nullopt;
    }
    return std::string(buffer, static_cast<std::size_t>(got));
}

bool processAlive(pid_t pid) {
    // EPERM: the process exists and belongs to someone else.
    return ::kill(pid, 0) == 0 || errno == EPERM;
}

enum class LockFound { None, Live, Stale };

// Looks at one lock file and removes it when it is stale.
LockFound examine(const std::string& path) {
    const std::optional<std::string> content = readSmallFile(path);
    if (!content) {
        return LockFound::None;
    }
    const std::optional<pid_t> holder = lockHolder(*content);
    if (holder && !processAlive(*holder)) {
        ::unlink(path.c_str());
        return LockFound::Stale;
    }
    return LockFound::Live;
}

}  // namespace

std::vector<std::string> lockDirectories(std::optional<std::string_view> variable) {
    if (!variable) {
        return {"/run/lock", "/var/lock"};
    }
    std::vector<std::string> directories;
    std::string_view rest = *variable;
    while (!rest.empty()) {
        const std::size_t colon = rest.find(':');
        const std::string_view entry = rest.substr(0, colon);
        if (!entry.empty()) {
            directories.emplace_back(entry);
        }
        rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
    }
    return directories;
}

std::string lockFileName(std::string_view devicePath) {
    std::string name(devicePath.substr(0, DEV_PREFIX.size()) == DEV_PREFIX
                         ? devicePath.substr(DEV_PREFIX.size())
                         : devicePath.substr(devicePath.rfind('/') + 1));
    for (char& c : name) {
        if (c == '/') {
            c = '_';
        }
    }
    return "LCK.." + name;
}

std::optional<pid_t> lockHolder(std::string_view content) {
    // ASCII: the digits, right-aligned with spaces, and a line end.
    std::string_view text = content;
    if (!text.empty() && text.back() == '\n') {
        text.remove_suffix(1);
    }
    const std::size_t start = text.find_first_not_of(' ');
    if (start != std::string_view::npos) {
        const std::string_view digits = text.substr(start);
        if (digits.size() <= 9 &&
            digits.find_first_not_of("0123456789") == std::string_view::npos) {
            const long pid = std::strtol(std::string(digits).c_str(), nullptr, 10);
            return pid > 0 ? std::optional<pid_t>(static_cast<pid_t>(pid)) : std::nullopt;
        }
    }
    // Binary: exactly one int in the machine's byte order.
    if (content.size() == sizeof(std::int32_t)) {
        std::int32_t pid = 0;
        std::memcpy(&pid, content.data(), sizeof pid);
        return pid > 0 ? std::optional<pid_t>(pid) : std::nullopt;
    }
    return std::nullopt;
}

PortLockFile::~PortLockFile() {
    if (!path_.empty()) {
        ::unlink(path_.c_str());
    }
}

PortLockFile::PortLockFile(PortLockFile&& other) noexcept : path_(std::move(other.path_)) {
    other.path_.clear();
}

PortLockFile& PortLockFile::operator=(PortLockFile&& other) noexcept {
    if (this != &other) {
        if (!path_.empty()) {
            ::unlink(path_.c_str());
        }
        path_ = std::move(other.path_);
        other.path_.clear();
    }
    return *this;
}

std::string lockedPathOf(const std::string& devicePath) {
    char resolved[PATH_MAX];
    return ::realpath(devicePath.c_str(), resolved) != nullptr ? std::string(resolved) : devicePath;
}

bool lockedByLiveProcess(const std::vector<std::string>& directories,
                         const std::string& devicePath) {
    const std::string name = lockFileName(devicePath);
    for (const std::string& directory : directories) {
        if (examine(joinPath(directory, name)) == LockFound::Live) {
            return true;
        }
    }
    return false;
}

LockAttempt takePortLock(const std::vector<std::string>& directories,
                         const std::string& devicePath) {
    const std::string name = lockFileName(devicePath);
    char text[16];
    const int length = std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(::getpid()));
    for (const std::string& directory : directories) {
        const std::string path = joinPath(directory, name);
        int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
        if (fd < 0 && errno == EEXIST) {
            // Someone took it since we looked; a stale file is cleared and the take tried again.
            if (examine(path) == LockFound::Live) {
                return {true, {}};
            }
            fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
            if (fd < 0 && errno == EEXIST) {
                return {true, {}};
            }
        }
        if (fd < 0) {
            continue;  // a folder we may not write to, or none at all
        }
        // Readable by everyone whatever our umask, so that other programs can see the holder.
        ::fchmod(fd, 0644);
        const bool written = ::write(fd, text, static_cast<std::size_t>(length)) == length;
        ::close(fd);
        if (written) {
            return {false, PortLockFile(path)};
        }
        ::unlink(path.c_str());
    }
    return {false, {}};
}

}  // namespace vkt5
