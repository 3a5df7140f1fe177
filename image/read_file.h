// A key buffer file open for reading, one implementation per system
// (read_file_posix.cpp, read_file_win32.cpp); the loader's loop over it is
// shared (hexfileHandle.cpp).  Private to the image module.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

namespace vantri::detail {

class KeyFileReader {
  public:
    KeyFileReader() = default;
    KeyFileReader(const KeyFileReader&) = delete;
    KeyFileReader& operator=(const KeyFileReader&) = delete;
    ~KeyFileReader();

    // Opens `name` and learns its size.  Anything but a regular file fails
    // at once without blocking ("not a regular file").  "" or the reason.
    std::string Open(const std::filesystem::path& name, std::uintmax_t& size);

    // Reads at most `want` bytes into `data`; sets `got` (0 at the end of
    // the file).  "" or the reason.
    std::string Read(std::uint8_t* data, std::size_t want, std::size_t& got);

  private:
    std::intptr_t handle_ = -1;  // a descriptor or a HANDLE; -1 while closed
};

}  // namespace vantri::detail
