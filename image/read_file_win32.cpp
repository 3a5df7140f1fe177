// Reading a key buffer file on Windows.
#include <windows.h>

#include <algorithm>

#include "image/os_error.h"
#include "image/read_file.h"

namespace vantri::detail {

KeyFileReader::~KeyFileReader() {
    if (handle_ != -1) {
        CloseHandle(reinterpret_cast<HANDLE>(handle_));
    }
}

std::string KeyFileReader::Open(const std::filesystem::path& name, std::uintmax_t& size) {
    const DWORD attributes = GetFileAttributesW(name.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return WindowsErrorReason(GetLastError());
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        return "not a regular file";
    }
    const HANDLE file = CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return WindowsErrorReason(GetLastError());
    }
    handle_ = reinterpret_cast<std::intptr_t>(file);
    // Ports, pipes and consoles are not key files.
    if (GetFileType(file) != FILE_TYPE_DISK) {
        return "not a regular file";
    }
    LARGE_INTEGER length{};
    if (!GetFileSizeEx(file, &length)) {
        return WindowsErrorReason(GetLastError());
    }
    size = static_cast<std::uintmax_t>(length.QuadPart);
    return {};
}

std::string KeyFileReader::Read(std::uint8_t* data, std::size_t want, std::size_t& got) {
    DWORD n = 0;
    const bool read =
        ReadFile(reinterpret_cast<HANDLE>(handle_), data,
                 static_cast<DWORD>(std::min<std::size_t>(want, 1u << 30)), &n, nullptr);
    got = n;
    return read ? std::string() : WindowsErrorReason(GetLastError());
}

}  // namespace vantri::detail
