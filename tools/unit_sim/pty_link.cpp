#include "tools/unit_sim/pty_link.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace vkt5::sim {

namespace {

bool fail(std::string* error, const std::string& what) {
    if (error != nullptr) {
        *error = what + ": " + std::strerror(errno);
    }
    return false;
}

}  // namespace

PtyLink::~PtyLink() {
    close();
}

bool PtyLink::open(const std::string& linkPath, std::string* error) {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (master_ < 0) {
        return fail(error, "posix_openpt");
    }
    if (grantpt(master_) != 0 || unlockpt(master_) != 0) {
        return fail(error, "grantpt/unlockpt");
    }
    char name[PATH_MAX];
    if (ptsname_r(master_, name, sizeof name) != 0) {
        return fail(error, "ptsname");
    }
    slavePath_ = name;

    const int slave = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (slave < 0) {
        return fail(error, slavePath_);
    }
    termios tio{};
    bool ok = tcgetattr(slave, &tio) == 0;
    if (ok) {
        cfmakeraw(&tio);
        tio.c_cflag |= CLOCAL | CREAD;
        cfsetispeed(&tio, B57600);
        cfsetospeed(&tio, B57600);
        ok = tcsetattr(slave, TCSANOW, &tio) == 0;
    }
    const int saved = errno;
    ::close(slave);
    errno = saved;
    if (!ok) {
        return fail(error, "raw mode on " + slavePath_);
    }

    if (!linkPath.empty()) {
        struct stat existing {};
        if (lstat(linkPath.c_str(), &existing) == 0 && !S_ISLNK(existing.st_mode)) {
            errno = EEXIST;
            return fail(error, linkPath + " exists and is not a symbolic link");
        }
        const std::string temporary = linkPath + ".new" + std::to_string(getpid());
        ::unlink(temporary.c_str());
        if (symlink(slavePath_.c_str(), temporary.c_str()) != 0) {
            return fail(error, "symlink " + temporary);
        }
        if (rename(temporary.c_str(), linkPath.c_str()) != 0) {
            const int renameError = errno;
            ::unlink(temporary.c_str());
            errno = renameError;
            return fail(error, "rename to " + linkPath);
        }
        linkPath_ = linkPath;
    }
    return true;
}

void PtyLink::hangUp() {
    if (master_ >= 0) {
        ::close(master_);
        master_ = -1;
    }
}

void PtyLink::close() {
    if (!linkPath_.empty()) {
        // Only our own link: someone may have pointed it elsewhere meanwhile.
        char target[PATH_MAX];
        const ssize_t length = readlink(linkPath_.c_str(), target, sizeof target - 1);
        if (length >= 0 &&
            std::string_view(target, static_cast<std::size_t>(length)) == slavePath_) {
            ::unlink(linkPath_.c_str());
        }
        linkPath_.clear();
    }
    hangUp();
}

PtyLink::ReadResult PtyLink::read(std::string& into) {
    char buffer[4096];
    const ssize_t got = ::read(master_, buffer, sizeof buffer);
    if (got > 0) {
        into.append(buffer, static_cast<std::size_t>(got));
        return ReadResult::Data;
    }
    if (got < 0 && (errno == EAGAIN || errno == EINTR)) {
        return ReadResult::Nothing;
    }
    return ReadResult::PeerClosed;
}

std::size_t PtyLink::write(std::string_view bytes) {
    if (master_ < 0 || bytes.empty()) {
        return 0;
    }
    const ssize_t put = ::write(master_, bytes.data(), bytes.size());
    return put > 0 ? static_cast<std::size_t>(put) : 0;
}

}  // namespace vkt5::sim
