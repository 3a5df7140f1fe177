// Reading a key buffer file on POSIX systems.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "image/os_error.h"
#include "image/read_file.h"

namespace vantri::detail {

namespace {

class Descriptor {
  public:
    explicit Descriptor(int fd) : fd_(fd) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    int get() const { return fd_; }

  private:
    int fd_;
};

}  // namespace

LoadOutcome ReadWholeFile(const std::filesystem::path& name, std::uintmax_t limit,
                          KeyVector<std::uint8_t>& bytes) {
    // Look before opening: opening a device can have effects of its own (a
    // serial port raises its modem lines), and a FIFO without a writer would
    // block the open.
    struct stat info {};
    if (::stat(name.c_str(), &info) != 0) {
        return LoadFailure(ErrnoReason(errno));
    }
    if (!S_ISREG(info.st_mode)) {
        return LoadFailure("not a regular file");
    }
    // O_NONBLOCK still guards the open should the name be replaced by a FIFO
    // between the two looks; it changes nothing for a regular file.
    const Descriptor fd(::open(name.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (fd.get() < 0) {
        return LoadFailure(ErrnoReason(errno));
    }
    if (::fstat(fd.get(), &info) != 0) {
        return LoadFailure(ErrnoReason(errno));
    }
    if (!S_ISREG(info.st_mode)) {
        return LoadFailure("not a regular file");
    }
    const auto size = static_cast<std::uintmax_t>(info.st_size);
    if (size > limit) {
        return LoadFailure("too large", size);
    }
    bytes.resize(static_cast<std::size_t>(size));
    std::size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t n = ::read(fd.get(), bytes.data() + got, bytes.size() - got);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return LoadFailure(ErrnoReason(errno), size);
        }
        if (n == 0) {
            break;  // shortened while we read: the image is what is there now
        }
        got += static_cast<std::size_t>(n);
    }
    bytes.resize(got);
    LoadOutcome outcome;
    outcome.ok = true;
    outcome.fileSize = size;
    return outcome;
}

}  // namespace vantri::detail
