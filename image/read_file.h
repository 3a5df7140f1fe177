// Reading a whole key buffer file, one per system (read_file_posix.cpp,
// read_file_win32.cpp).  Private to the image module.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "image/hexfileHandle.h"
#include "image/key_bytes.h"

namespace vantri::detail {

inline LoadOutcome LoadFailure(std::string error, std::uintmax_t fileSize = 0) {
    LoadOutcome outcome;
    outcome.fileSize = fileSize;
    outcome.error = std::move(error);
    return outcome;
}

// Reads the whole of a regular file into `bytes` and sets the outcome's
// fileSize.  Anything but a regular file fails at once without blocking, so
// does a file over `limit` bytes.
LoadOutcome ReadWholeFile(const std::filesystem::path& name, std::uintmax_t limit,
                          KeyVector<std::uint8_t>& bytes);

}  // namespace vantri::detail
