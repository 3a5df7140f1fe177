// Reading a key buffer file on Windows.
#include <windows.h>

#include <algorithm>

#include "image/os_error.h"
#include "image/read_file.h"

namespace vantri::detail {

namespace {

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

}  // namespace

LoadOutcome ReadWholeFile(const std::filesystem::path& name, std::uintmax_t limit,
                          KeyVector<std::uint8_t>& bytes) {
    const DWORD attributes = GetFileAttributesW(name.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return LoadFailure(WindowsErrorReason(GetLastError()));
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        return LoadFailure("not a regular file");
    }
    const Handle file(CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE) {
        return LoadFailure(WindowsErrorReason(GetLastError()));
    }
    // Ports, pipes and consoles are not key files.
    if (GetFileType(file.get()) != FILE_TYPE_DISK) {
        return LoadFailure("not a regular file");
    }
    LARGE_INTEGER length{};
    if (!GetFileSizeEx(file.get(), &length)) {
        return LoadFailure(WindowsErrorReason(GetLastError()));
    }
    const auto size = static_cast<std::uintmax_t>(length.QuadPart);
    if (size > limit) {
        return LoadFailure("too large", size);
    }
    bytes.resize(static_cast<std::size_t>(size));
    std::size_t got = 0;
    while (got < bytes.size()) {
        const DWORD want = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - got, 1u << 30));
        DWORD n = 0;
        if (!ReadFile(file.get(), bytes.data() + got, want, &n, nullptr)) {
            return LoadFailure(WindowsErrorReason(GetLastError()), size);
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

}  // namespace vantri::detail
