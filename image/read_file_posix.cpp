// Reading a key buffer file on POSIX systems.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "image/os_error.h"
#include "image/read_file.h"

namespace vantri::detail {

KeyFileReader::~KeyFileReader() {
    if (handle_ >= 0) {
        ::close(static_cast<int>(handle_));
    }
}

std::string KeyFileReader::Open(const std::filesystem::path& name, std::uintmax_t& size) {
    // Looked at before it is opened, since opening a device can have effects
    // of its own (a serial port raises its modem lines), and a FIFO without
    // a writer would block the open; O_NONBLOCK still guards the open should
    // the name be replaced by a FIFO between the two looks.
    struct stat info {};
    if (::stat(name.c_str(), &info) != 0) {
        return ErrnoReason(errno);
    }
    if (S_ISREG(info.st_mode)) {
        handle_ = ::open(name.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (handle_ < 0 || ::fstat(static_cast<int>(handle_), &info) != 0) {
            return ErrnoReason(errno);
        }
    }
    if (!S_ISREG(info.st_mode)) {
        return "not a regular file";
    }
    size = static_cast<std::uintmax_t>(info.st_size);
    return {};
}

std::string KeyFileReader::Read(std::uint8_t* data, std::size_t want, std::size_t& got) {
    ssize_t n = 0;
    do {
        n = ::read(static_cast<int>(handle_), data, want);
    } while (n < 0 && errno == EINTR);
    got = static_cast<std::size_t>(std::max<ssize_t>(n, 0));
    return n < 0 ? ErrnoReason(errno) : std::string();
}

}  // namespace vantri::detail
