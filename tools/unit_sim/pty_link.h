// The simulator's end of a pseudo-terminal. The other end (the slave) is what the program under
// test opens as its serial port; it is put in raw mode once, here, so that no CR/LF translation,
// echo or flow control sits between the two, and the setting survives the program closing and
// reopening the port.
//
// Linux quirks this relies on: before anyone has opened the slave, the master reads nothing
// (EAGAIN) and writes are queued for the slave; once the last slave descriptor is closed, poll()
// reports POLLHUP on the master for good and read() fails with EIO, until the slave is opened
// again. The simulator opens and closes the slave itself while setting it up, so "hung up" reliably
// means "nobody has the port open".
#pragma once

#include <string>
#include <string_view>

namespace vkt5::sim {

class PtyLink {
  public:
    PtyLink() = default;
    ~PtyLink();
    PtyLink(const PtyLink&) = delete;
    PtyLink& operator=(const PtyLink&) = delete;

    // Creates the terminal pair (non-blocking master, raw 57600 8N1 slave) and, when linkPath is
    // not empty, a symbolic link to the slave there. The link is made under a temporary name and
    // renamed into place, so it replaces an older symbolic link (never another kind of file)
    // without a moment in which the path is missing or half made.
    bool open(const std::string& linkPath, std::string* error);
    // Closes the master (the program's port goes away) and removes the link.
    void close();
    // Closes the master but leaves the link, pointing at a terminal that no longer opens, for the
    // next open() to replace.
    void hangUp();

    bool isOpen() const { return master_ >= 0; }
    int fd() const { return master_; }
    const std::string& slavePath() const { return slavePath_; }

    enum class ReadResult { Data, Nothing, PeerClosed };
    // Appends what the slave side wrote.
    ReadResult read(std::string& into);
    // Writes what the terminal takes now; returns the number of bytes taken.
    std::size_t write(std::string_view bytes);

  private:
    int master_ = -1;
    std::string slavePath_;
    std::string linkPath_;
};

}  // namespace vkt5::sim
