// Loading a key buffer file into a byte image.
#include "image/hexfileHandle.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <limits>
#include <new>

#include "image/os_error.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace vantri {

std::int32_t BinFileSize = 0;

namespace {

// Addresses and BinFileSize are 32-bit: no image may be longer, whatever
// limit a caller asks for.
constexpr std::uintmax_t kMaxImageBytes = std::numeric_limits<std::int32_t>::max();

LoadOutcome Failure(std::string error, std::uintmax_t fileSize = 0) {
    LoadOutcome outcome;
    outcome.fileSize = fileSize;
    outcome.error = std::move(error);
    return outcome;
}

#ifndef _WIN32

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

// Reads the whole of a regular file into `bytes`.  Sets outcome.fileSize.
LoadOutcome ReadWholeFile(const std::filesystem::path& name, std::uintmax_t limit,
                          std::vector<std::uint8_t>& bytes) {
    // Look before opening: opening a device can have effects of its own (a
    // serial port raises its modem lines), and a FIFO without a writer would
    // block the open.
    struct stat info {};
    if (::stat(name.c_str(), &info) != 0) {
        return Failure(detail::ErrnoReason(errno));
    }
    if (!S_ISREG(info.st_mode)) {
        return Failure("not a regular file");
    }
    // O_NONBLOCK still guards the open should the name be replaced by a FIFO
    // between the two looks; it changes nothing for a regular file.
    const Descriptor fd(::open(name.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (fd.get() < 0) {
        return Failure(detail::ErrnoReason(errno));
    }
    if (::fstat(fd.get(), &info) != 0) {
        return Failure(detail::ErrnoReason(errno));
    }
    if (!S_ISREG(info.st_mode)) {
        return Failure("not a regular file");
    }
    const auto size = static_cast<std::uintmax_t>(info.st_size);
    if (size > limit) {
        return Failure("too large", size);
    }
    bytes.resize(static_cast<std::size_t>(size));
    std::size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t n = ::read(fd.get(), bytes.data() + got, bytes.size() - got);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return Failure(detail::ErrnoReason(errno), size);
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

#else  // _WIN32

class Handle {
  public:
    explicit Handle(HANDLE h) : h_(h) {}
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() {
        if (h_ != INVALID_HANDLE_VALUE) {
            CloseHandle(h_);
        }
    }
    HANDLE get() const { return h_; }

  private:
    HANDLE h_;
};

LoadOutcome ReadWholeFile(const std::filesystem::path& name, std::uintmax_t limit,
                          std::vector<std::uint8_t>& bytes) {
    const DWORD attributes = GetFileAttributesW(name.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return Failure(detail::WindowsErrorReason(GetLastError()));
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        return Failure("not a regular file");
    }
    const Handle file(CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE) {
        return Failure(detail::WindowsErrorReason(GetLastError()));
    }
    // Ports, pipes and consoles are not key files.
    if (GetFileType(file.get()) != FILE_TYPE_DISK) {
        return Failure("not a regular file");
    }
    LARGE_INTEGER length{};
    if (!GetFileSizeEx(file.get(), &length)) {
        return Failure(detail::WindowsErrorReason(GetLastError()));
    }
    const auto size = static_cast<std::uintmax_t>(length.QuadPart);
    if (size > limit) {
        return Failure("too large", size);
    }
    bytes.resize(static_cast<std::size_t>(size));
    std::size_t got = 0;
    while (got < bytes.size()) {
        const DWORD want = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - got, 1u << 30));
        DWORD n = 0;
        if (!ReadFile(file.get(), bytes.data() + got, want, &n, nullptr)) {
            return Failure(detail::WindowsErrorReason(GetLastError()), size);
        }
        if (n == 0) {
            break;
        }
        got += n;
    }
    bytes.resize(got);
    LoadOutcome outcome;
    outcome.ok = true;
    outcome.fileSize = size;
    return outcome;
}

#endif

}  // namespace

LoadOutcome LoadBinFile(ByteImage& records, const std::filesystem::path& name,
                        std::uintmax_t limit) {
    BinFileSize = 0;
    records.clear();
    try {
        std::vector<std::uint8_t> bytes;
        LoadOutcome outcome = ReadWholeFile(name, std::min(limit, kMaxImageBytes), bytes);
        if (!outcome.ok) {
            return outcome;
        }
        ByteImage image(bytes.size());
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            image[i].Address = static_cast<std::int32_t>(i);
            image[i].LineStart = (i % 16 == 0) ? True16 : False16;
            image[i].Value = bytes[i];
        }
        records.swap(image);
        BinFileSize = static_cast<std::int32_t>(records.size());
        return outcome;
    } catch (const std::bad_alloc&) {
        return Failure("out of memory");
    }
}

}  // namespace vantri
