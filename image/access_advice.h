// What to tell a user whom the system refused a key file: whose it is, its
// mode, and what would let them in (access_advice_posix.cpp,
// access_advice_win32.cpp; the ports' own: serial/port_access.h).
//
// It returns one clause without a final full stop, for a message such as
// "cannot read k.bin: permission denied; <advice>.".
#pragma once

#include <filesystem>
#include <string>

namespace vantri {

// A key file refused with "permission denied": whose file it is and its
// mode.  `shown` is the name as the user gave it.
std::string FileAccessAdvice(const std::filesystem::path& file, const std::string& shown);

}  // namespace vantri
